// initScriptLister: lists the host's SysV init scripts of the default
// runlevel as "chkconfig -p" does, one "<script path> <start priority>" per
// line in ascending priority, for daemon mode on hosts without chkconfig
// (Debian). Like bootcrank it reads the host below BOOTCRANK_ROOT when that
// holds an absolute path, and prints the script paths below it, so that
// daemon mode runs the scripts of that root.
//
//   initScriptLister [-p]
//
// Exit status 0; 1 when /etc/init.d cannot be read or the listing cannot be
// written; 2 for a wrong argument. Warnings go to standard error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "host/host_root.h"
#include "init_script_lister/init_scripts.h"

namespace {

const char kName[] = "initScriptLister";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-p") != 0) {
      std::fprintf(stderr, "%s: unknown argument '%s'\nusage: %s [-p]\n", kName, argv[i], kName);
      return 2;
    }
  }
  const std::string root = bootcrank::host::HostRoot();
  bootcrank::InitScripts listing;
  try {
    listing = bootcrank::ListInitScripts(root);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kName, e.what());
    return 1;
  }
  for (const std::string& warning : listing.warnings)
    std::fprintf(stderr, "%s: warning: %s\n", kName, warning.c_str());
  for (const bootcrank::ListedScript& script : listing.scripts) {
    std::printf("%s/etc/init.d/%s %d\n", root.c_str(), script.name.c_str(), script.priority);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: cannot write the listing: %s\n", kName, std::strerror(errno));
    return 1;
  }
  return 0;
}
