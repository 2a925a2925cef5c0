// A scratch host root for the daemon tests: BOOTCRANK_ROOT points at it while
// the object lives; it holds dev/log and dev/kmsg as plain files and the
// shell scripts that a test runs as daemons.
#ifndef BOOTCRANK_TESTS_DAEMONS_SCRIPT_ROOT_H_
#define BOOTCRANK_TESTS_DAEMONS_SCRIPT_ROOT_H_

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

namespace bootcrank {
namespace testing {

class ScriptRoot {
 public:
  ScriptRoot() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/bootcrank-daemons.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    const char* old = getenv("BOOTCRANK_ROOT");
    if (old != nullptr) oldRoot_ = old;
    hadRoot_ = old != nullptr;
    setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
    Write("/dev/log", "");
    Write("/dev/kmsg", "");
  }
  ~ScriptRoot() {
    if (hadRoot_) {
      setenv("BOOTCRANK_ROOT", oldRoot_.c_str(), 1);
    } else {
      unsetenv("BOOTCRANK_ROOT");
    }
    boost::system::error_code ignored;
    boost::filesystem::remove_all(root_, ignored);
  }
  ScriptRoot(const ScriptRoot&) = delete;
  ScriptRoot& operator=(const ScriptRoot&) = delete;

  // `absolute` ("/x/y") below the root.
  std::string Path(const std::string& absolute) const { return root_ + absolute; }

  void Write(const std::string& absolute, const std::string& content,
             mode_t mode = 0644) const {
    boost::filesystem::create_directories(boost::filesystem::path(Path(absolute)).parent_path());
    std::ofstream out(Path(absolute), std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + Path(absolute));
    chmod(Path(absolute).c_str(), mode);
  }
  // An executable /bin/sh script with `body`; returns its full path.
  std::string Script(const std::string& absolute, const std::string& body) const {
    Write(absolute, "#!/bin/sh\n" + body + "\n", 0755);
    return Path(absolute);
  }
  std::string Read(const std::string& absolute) const {
    std::ifstream in(Path(absolute), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Exists(const std::string& absolute) const {
    struct stat st;
    return lstat(Path(absolute).c_str(), &st) == 0;
  }

 private:
  std::string root_;
  std::string oldRoot_;
  bool hadRoot_ = false;
};

// The descriptor numbers open in process `pid` ("self" for this one).
inline std::set<int> OpenDescriptors(const std::string& pid = "self") {
  std::set<int> fds;
  std::string dirPath = "/proc/" + pid + "/fd";
  DIR* dir = opendir(dirPath.c_str());
  if (dir == nullptr) return fds;
  int own = pid == "self" ? dirfd(dir) : -1;
  while (struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = atoi(entry->d_name);
    if (fd != own) fds.insert(fd);
  }
  closedir(dir);
  return fds;
}

// Where /proc/<pid>/<entry> points ("" when it cannot be read).
inline std::string ProcLink(pid_t pid, const std::string& entry) {
  std::string path = "/proc/" + std::to_string(pid) + "/" + entry;
  char target[4096];
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

// Kills and reaps a child of this process that a test left running.
inline void KillAndReap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Waits (up to about 10 s) until `absolute` below `root` holds a pid; 0 when
// it never does.
inline pid_t AwaitPidFile(const ScriptRoot& root, const std::string& absolute) {
  for (int i = 0; i < 1000; ++i) {
    std::string text = root.Read(absolute);
    if (!text.empty() && text.back() == '\n') return static_cast<pid_t>(atol(text.c_str()));
    usleep(10000);
  }
  return 0;
}

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_DAEMONS_SCRIPT_ROOT_H_
