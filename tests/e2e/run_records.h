// Helpers for end-to-end runs: plugins, the profiling log, full file systems
// and what a run must not leave behind.
#ifndef BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_
#define BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace testing {

// A run of the installed program that must end with `status`.
inline RunResult RunExpecting(const Sandbox& box, const std::vector<std::string>& args,
                              int status = 0, int timeoutSeconds = 60) {
  RunResult run = box.Run(args, timeoutSeconds);
  EXPECT_EQ(status, run.status) << run.out.substr(0, 8000) << run.err;
  return run;
}

// A version-1 JSON descriptor; the arguments are the bodies of its arrays.
inline std::string Descriptor(const std::string& needs, const std::string& provides,
                              const std::string& start) {
  return "{\"metadata\": {\"version\": 1, \"requires\": [" + needs + "], \"provides\": [" +
         provides + "]}, \"operations\": {\"start\": [" + start + "]}}\n";
}

// A version-3 JSON descriptor whose start command leaves /var/run/quarro/<marker>.ran.
inline std::string MarkingDescriptor(const std::string& marker, const std::string& extra = "",
                                     const std::string& once = "false",
                                     const std::string& version = "1") {
  return "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [], \"run_once\": " +
         once + ", \"plugin_version\": \"" + version + "\"" + extra +
         "},\n \"operations\": {\"start\": [\"file write --path=/var/run/quarro/" + marker +
         ".ran --content=ran\"]}}\n";
}

// A shell command writing to `file` the descriptors (one a line) a program it
// starts inherits: a new shell (a script's shell holds the script open), and
// "true" keeps it from exec'ing ls, whose directory handle would count.
inline std::string ListDescriptors(const std::string& file) {
  return "sh -c 'ls /proc/$$/fd; true' > " + file;
}

// Compiles <plugin dir>/<name>.so from the C `code` (the usual headers
// included); its exit status.
inline int CompileNative(const Sandbox& box, const std::string& name, const std::string& code) {
  box.WriteFile("/" + name + ".c",
                "#include <bootcrank/native_plugin.h>\n#include <dirent.h>\n#include <fcntl.h>\n"
                "#include <signal.h>\n#include <stdio.h>\n#include <stdlib.h>\n"
                "#include <unistd.h>\n" +
                    code);
  return Shell("cc -shared -fPIC -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" + box.PluginDir() +
               "/" + name + ".so' '" + box.Path("/" + name + ".c") + "'");
}

// A native plugin whose start runs `body`.
inline int CompileNativePlugin(const Sandbox& box, const std::string& name,
                               const std::string& body) {
  return CompileNative(box, name,
                       "static int Start(void) {\n" + body +
                           "\n}\nstatic int Apply(void) { return 0; }\n"
                           "const struct bootcrank_metadata metadata = {.version = 1};\n"
                           "const struct bootcrank_operations operations = {Start, Apply};\n");
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

// A run with `arguments` (shell words) in a mount namespace where `file`'s
// directory is a full 64 KiB tmpfs holding `file` with `content`; the exit
// status line, output, what `file` holds and `ls -a` of its directory after.
struct FullFileSystemRun {
  bool ran = false;
  std::string status, out, kept, listing;
};
inline FullFileSystemRun RunWithFullFileSystem(const Sandbox& box, const std::string& file,
                                               const std::string& content,
                                               const std::string& arguments) {
  box.WriteFile("/full/old", content);
  box.WriteFile("/full/run.sh",
                "set -e\nmount -t tmpfs -o size=64k tmpfs \"$D\"\ncp \"$R/full/old\" \"$R$F\"\n"
                "dd if=/dev/zero of=\"$D/filler\" bs=1024 2>/dev/null || true\nset +e\n"
                "BOOTCRANK_ROOT=\"$R\" \"$R/usr/sbin/bootcrank\" $A > \"$R/full/out\" 2>&1\n"
                "echo $? > \"$R/full/status\"\ncp \"$R$F\" \"$R/full/kept\"\n"
                "ls -a \"$D\" > \"$R/full/listing\"\n");
  bool ran = Shell("R='" + box.Root() + "' F='" + file + "' D='" +
                   box.Path(file.substr(0, file.rfind('/'))) + "' A='" + arguments +
                   "' unshare -m --propagation private sh '" + box.Path("/full/run.sh") + "'") == 0;
  return {ran, box.ReadFile("/full/status"), box.ReadFile("/full/out"), box.ReadFile("/full/kept"),
          box.ReadFile("/full/listing")};
}

// "<pid> <command line>" of each other process naming the sandbox (after up to
// 30 s for the executor to leave), and the profiling log's temporary files.
inline std::string Leftovers(const Sandbox& box) {
  std::string found;
  for (int attempt = 0; attempt < 300; ++attempt) {
    found.clear();
    DIR* proc = opendir("/proc");
    while (struct dirent* entry = proc ? readdir(proc) : nullptr) {
      std::string pid = entry->d_name, command = ReadAll("/proc/" + pid + "/cmdline");
      if (!isdigit(static_cast<unsigned char>(pid[0])) || pid == std::to_string(getpid()) ||
          (ReadAll("/proc/" + pid + "/environ") + command).find(box.Root()) == std::string::npos) {
        continue;
      }
      std::replace(command.begin(), command.end(), '\0', ' ');
      found += pid + " " + command + "\n";
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
