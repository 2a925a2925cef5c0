// What a run of the installed program must leave behind: no process of its
// sandbox still alive (the executor process included), no temporary
// profiling log, and plugins that saw only descriptors 0, 1 and 2.
#ifndef BOOTCRANK_TESTS_E2E_HYGIENE_H_
#define BOOTCRANK_TESTS_E2E_HYGIENE_H_

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/sandbox.h"

namespace bootcrank {
namespace testing {

// "<pid> <command line>" of every process but this one whose environment or
// command line mentions `root`.
inline std::vector<std::string> ProcessesMentioning(const std::string& root) {
  std::vector<std::string> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  const std::string self = std::to_string(getpid());
  while (struct dirent* entry = readdir(proc)) {
    std::string pid = entry->d_name;
    if (pid.empty() || !isdigit(static_cast<unsigned char>(pid[0])) || pid == self) continue;
    std::string text[2];
    const char* files[2] = {"/environ", "/cmdline"};
    for (int i = 0; i < 2; ++i) {
      std::ifstream in("/proc/" + pid + files[i], std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      text[i] = content.str();
    }
    if (text[0].find(root) == std::string::npos && text[1].find(root) == std::string::npos) {
      continue;
    }
    for (char& c : text[1]) {
      if (c == '\0') c = ' ';
    }
    found.push_back(pid + " " + text[1]);
  }
  closedir(proc);
  return found;
}

// The processes of the sandbox once the stop request that ends a run had
// time to take effect: the executor process leaves asynchronously, so this
// waits (up to half a minute, normally not at all) for the list to empty.
inline std::vector<std::string> LeftoverProcesses(const Sandbox& box) {
  std::vector<std::string> found;
  for (int attempt = 0; attempt < 300; ++attempt) {
    found = ProcessesMentioning(box.Root());
    if (found.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return found;
}

// Files in the sandbox's /var/log named like the profiling log's temporary
// file (the log's name, a dot and six characters).
inline std::vector<std::string> TemporaryLogFiles(const Sandbox& box) {
  std::vector<std::string> found;
  DIR* dir = opendir(box.Path("/var/log").c_str());
  if (dir == nullptr) return found;
  const std::string prefix = "sysboot.log.";
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0 && name.size() == prefix.size() + 6) {
      found.push_back(name);
    }
  }
  closedir(dir);
  return found;
}

inline std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += item + "\n";
  return text;
}

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_E2E_HYGIENE_H_
