// Helpers for end-to-end runs: plugins, the profiling log, full file systems
// and what a run must not leave behind.
#ifndef BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_
#define BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace testing {

// A version-1 JSON descriptor; the arguments are the bodies of its arrays.
inline std::string Descriptor(const std::string& needs, const std::string& provides,
                              const std::string& start) {
  return "{\"metadata\": {\"version\": 1, \"requires\": [" + needs + "], \"provides\": [" +
         provides + "]}, \"operations\": {\"start\": [" + start + "]}}\n";
}

// A version-3 JSON descriptor whose start command leaves /var/run/quarro/<marker>.ran.
inline std::string MarkingDescriptor(const std::string& marker, const std::string& extra = "",
                                     const std::string& once = "false", const std::string& version = "1") {
  return "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [], \"run_once\": " + once +
         ", \"plugin_version\": \"" + version + "\"" + extra +
         "},\n \"operations\": {\"start\": [\"file write --path=/var/run/quarro/" + marker +
         ".ran --content=ran\"]}}\n";
}

// A shell command writing to `file` the descriptors (one a line) a program it
// starts inherits: a new shell (a script's shell holds the script open), and
// "true" keeps it from exec'ing ls, whose directory handle would count.
inline std::string ListDescriptors(const std::string& file) {
  return "sh -c 'ls /proc/$$/fd; true' > " + file;
}

// Compiles <plugin dir>/<name>.so, a native plugin whose start runs `body`.
inline int CompileNativePlugin(const Sandbox& box, const std::string& name, const std::string& body) {
  box.WriteFile("/" + name + ".c",
                "#include <bootcrank/native_plugin.h>\n#include <dirent.h>\n#include <fcntl.h>\n"
                "#include <stdio.h>\n#include <stdlib.h>\n#include <unistd.h>\n"
                "static int Start(void) {\n" + body + "\n}\n"
                "static int Apply(void) { return 0; }\n"
                "const struct bootcrank_metadata metadata = {.version = 1};\n"
                "const struct bootcrank_operations operations = {Start, Apply};\n");
  return Shell("cc -shared -fPIC -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" + box.PluginDir() +
               "/" + name + ".so' '" + box.Path("/" + name + ".c") + "'");
}

// The gzip file at `path` below the root, as the system's zcat unpacks it.
inline std::string Unzipped(const Sandbox& box, const std::string& path) {
  RunResult zcat = RunProcess({"/bin/zcat", box.Path(path)}, nullptr, 30);
  return zcat.status == 0 ? zcat.out : "<not gzip: " + zcat.err + ">";
}

// The plugin lines of a profiling log, and those with the never-ran zero time.
inline std::pair<int, int> PluginLines(const std::string& log) {
  int total = 0, neverRan = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("] sysboot: ") == std::string::npos) continue;
    ++total;
    if (line.compare(0, 28, "[1970-01-01 00:00:00.000000 ") == 0) ++neverRan;
  }
  return {total, neverRan};
}

// The profiling log with the run's time stamps as "<T>" (the zero time of
// never-run plugins is kept) and the uptime as "<U>".
inline std::string NormalisedProfilingLog(const std::string& log) {
  static const std::regex stamp(R"((?!1970-01-01 00:00:00\.000000)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})");
  static const std::regex uptime(R"(^HVKernel Initialization Time: \d*000000\n)");
  return std::regex_replace(std::regex_replace(log, uptime, "HVKernel Initialization Time: <U>\n"), stamp, "<T>");
}

// A run of the installed program with `arguments` (shell words) in a private
// mount namespace (`unshare -m`) in which the directory of `file` is a full
// 64 KiB tmpfs holding `file` with `content`. `ran`: it could be set up;
// `status` (and a newline), standard output and error, what `file` holds and
// `ls -a` of its directory afterwards.
struct FullFileSystemRun {
  bool ran = false;
  std::string status, out, kept, listing;
};
inline FullFileSystemRun RunWithFullFileSystem(const Sandbox& box, const std::string& file,
                                               const std::string& content, const std::string& arguments) {
  const std::string root = box.Root(), directory = root + file.substr(0, file.rfind('/'));
  box.WriteFile("/full/old", content);
  box.WriteFile("/full/run.sh",
                "set -e\nmount -t tmpfs -o size=64k tmpfs '" + directory + "'\n"
                "cp '" + root + "/full/old' '" + root + file + "'\n"
                "dd if=/dev/zero of='" + directory + "/filler' bs=1024 2>/dev/null || true\n"
                "set +e\nBOOTCRANK_ROOT='" + root + "' '" + box.Program() + "' " + arguments + " > '" + root +
                    "/full/out' 2>&1\n"
                "echo $? > '" + root + "/full/status'\n"
                "cp '" + root + file + "' '" + root + "/full/kept'\n"
                "ls -a '" + directory + "' > '" + root + "/full/listing'\n");
  FullFileSystemRun run;
  run.ran = Shell("unshare -m --propagation private sh '" + root + "/full/run.sh'") == 0;
  run.status = box.ReadFile("/full/status");
  run.out = box.ReadFile("/full/out");
  run.kept = box.ReadFile("/full/kept");
  run.listing = box.ReadFile("/full/listing");
  return run;
}

// What a run left behind: "<pid> <command line>" of each process but this one
// naming the sandbox in its environment or command line (after up to 30 s
// for the executor to leave), and the profiling log's temporary files.
inline std::string Leftovers(const Sandbox& box) {
  std::string found;
  for (int attempt = 0; attempt < 300; ++attempt) {
    found.clear();
    DIR* proc = opendir("/proc");
    while (struct dirent* entry = proc ? readdir(proc) : nullptr) {
      std::string pid = entry->d_name, text[2];
      if (!isdigit(static_cast<unsigned char>(pid[0])) || pid == std::to_string(getpid())) continue;
      for (int i = 0; i < 2; ++i) {
        std::ifstream in("/proc/" + pid + (i ? "/cmdline" : "/environ"), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        text[i] = content.str();
      }
      if ((text[0] + text[1]).find(box.Root()) == std::string::npos) continue;
      std::replace(text[1].begin(), text[1].end(), '\0', ' ');
      found += pid + " " + text[1] + "\n";
    }
    if (proc) closedir(proc);
    if (found.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  DIR* log = opendir(box.Path("/var/log").c_str());
  while (struct dirent* entry = log ? readdir(log) : nullptr) {
    std::string name = entry->d_name;
    if (name.size() == 18 && name.compare(0, 12, "sysboot.log.") == 0) found += name + "\n";
  }
  if (log) closedir(log);
  return found;
}

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_
