#include "host/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "host/process.h"
#include "host/read_file.h"
#include "host/termination.h"

namespace bootcrank {
namespace host {

namespace {

// The pid recorded in the lock file, or 0.
pid_t RecordedHolder(const std::string& path) {
  std::string text;
  if (ReadFile(path, 64, &text) != ReadResult::kComplete) return 0;
  return ParseProcessId(text);
}

// The parent of `pid` from /proc, or 0.
pid_t ParentOf(pid_t pid) {
  char state = 0;
  pid_t parent = 0;
  return ReadProcessStatus(pid, &state, &parent) ? parent : 0;
}

bool IsAncestor(pid_t candidate) {
  for (pid_t pid = getppid(); pid > 1; pid = ParentOf(pid)) {
    if (pid == candidate) return true;
  }
  return false;
}

void MakeParentDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);  // an existing one is fine
  }
}

}  // namespace

RunLockResult AcquireRunLock(const std::string& path, const std::function<void(pid_t)>& waiting,
                             pid_t* holder) {
  *holder = 0;
  MakeParentDirectories(path);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return RunLockResult::kUnavailable;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return RunLockResult::kUnavailable;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      int error = errno;
      close(fd);
      errno = error;
      return RunLockResult::kUnavailable;
    }
    *holder = RecordedHolder(path);
    if (*holder != 0 && IsAncestor(*holder)) {
      close(fd);
      return RunLockResult::kNested;
    }
    waiting(*holder);
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int error = errno;
        close(fd);
        errno = error;
        return RunLockResult::kUnavailable;
      }
      if (TerminationSignal() != 0) {
        close(fd);
        return RunLockResult::kInterrupted;
      }
    }
  }
  // Ours now: record who holds it. The descriptor is never closed.
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock holds all the same; only the holder's name is missing.
  }
  return RunLockResult::kHeld;
}

}  // namespace host
}  // namespace bootcrank
