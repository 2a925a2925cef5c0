#include "host/fork_exec.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "host/process.h"

namespace bootcrank {
namespace host {

namespace {

constexpr uint32_t kMaxDescriptors = 64;
constexpr unsigned kCloseRangeCloexec = 1u << 2;  // CLOSE_RANGE_CLOEXEC

// Child side: hands `error` to the parent and ends the child.
[[noreturn]] void ReportAndExit(int pipe, int error) {
  ssize_t unused = write(pipe, &error, sizeof error);
  (void)unused;
  _exit(127);
}

// Marks every descriptor from `first` on close-on-exec; where the kernel
// cannot, closes them, except `keep`.
void CloseFrom(int first, int keep) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, kCloseRangeCloexec) == 0) {
    return;
  }
#endif
  struct rlimit limit;
  long max = 1 << 20;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<long>(limit.rlim_cur) < max) {
    max = static_cast<long>(limit.rlim_cur);
  }
  for (long fd = first; fd < max; ++fd) {
    if (fd != keep) close(static_cast<int>(fd));
  }
}

// Between fork and exec: async-signal-safe calls only.
[[noreturn]] void RunChild(int pipe, const char* path, char* const argv[], char* const envp[],
                           int directory, const int32_t* descriptors,
                           const ForkExecOptions& options) {
  RestoreDefaultSignals();

  const int count = static_cast<int>(options.descriptorCount);
  const int firstFree = count > STDERR_FILENO + 1 ? count : STDERR_FILENO + 1;
  // The error pipe must survive the descriptor shuffle below.
  int report = fcntl(pipe, F_DUPFD_CLOEXEC, firstFree);
  if (report < 0) _exit(127);

  if (fchdir(directory) != 0) ReportAndExit(report, errno);
  if ((getgid() != options.groupId || getegid() != options.groupId) &&
      setgid(options.groupId) != 0) {
    ReportAndExit(report, errno);
  }
  if ((getuid() != options.userId || geteuid() != options.userId) && setuid(options.userId) != 0) {
    ReportAndExit(report, errno);
  }

  // Copies above the target range first, so that a source that is itself a
  // target number (0 as standard output, say) is not overwritten too early.
  int moved[kMaxDescriptors];
  for (int i = 0; i < count; ++i) {
    moved[i] = -1;
    if (descriptors[i] < 0) continue;
    moved[i] = fcntl(descriptors[i], F_DUPFD_CLOEXEC, firstFree);
    if (moved[i] < 0) ReportAndExit(report, errno);
  }
  for (int i = 0; i < count; ++i) {
    if (moved[i] < 0) {
      close(i);
    } else if (dup2(moved[i], i) < 0) {
      ReportAndExit(report, errno);
    }
  }
  CloseFrom(count, report);
  execve(path, argv, envp);
  ReportAndExit(report, errno);
}

}  // namespace

int ForkExec(const char* path, char* const argv[], char* const envp[], int directory,
             const int32_t* descriptors, const ForkExecOptions* options) {
  if (path == nullptr || argv == nullptr || envp == nullptr || options == nullptr ||
      options->processId == nullptr) {
    return EINVAL;
  }
  if (options->descriptorCount > kMaxDescriptors ||
      (options->descriptorCount > 0 && descriptors == nullptr)) {
    return EINVAL;
  }

  int pipe[2];
  if (pipe2(pipe, O_CLOEXEC) != 0) return errno;
  pid_t pid = fork();
  if (pid < 0) {
    int error = errno;
    close(pipe[0]);
    close(pipe[1]);
    return error;
  }
  if (pid == 0) {
    close(pipe[0]);
    RunChild(pipe[1], path, argv, envp, directory, descriptors, *options);
  }
  close(pipe[1]);

  // End of file: the exec succeeded and closed the pipe's writing side.
  int childError = 0;
  ssize_t n;
  do {
    n = read(pipe[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  close(pipe[0]);

  if (n == static_cast<ssize_t>(sizeof childError)) {
    WaitForChild(pid, nullptr);
    return childError;
  }
  *options->processId = static_cast<int32_t>(pid);
  return 0;
}

}  // namespace host
}  // namespace bootcrank
