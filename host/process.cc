#include "host/process.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "host/host_paths.h"

namespace bootcrank {
namespace host {

pid_t WaitForChild(pid_t pid, int* status, int options) {
  pid_t result;
  do {
    result = waitpid(pid, status, options);
  } while (result < 0 && errno == EINTR);
  return result;
}

int SendSignal(pid_t pid, int signal) { return kill(pid, signal) == 0 ? 0 : errno; }

int IgnoreBrokenPipes() {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return sigaction(SIGPIPE, &ignore, nullptr) == 0 ? 0 : errno;
}

int ChangeDirectory(const char* path) { return chdir(path) == 0 ? 0 : errno; }

int StartSession() { return setsid() < 0 ? errno : 0; }

int Detach() { return daemon(0, 1) == 0 ? 0 : errno; }

uint32_t RealUserId() { return getuid(); }
uint32_t RealGroupId() { return getgid(); }
uint32_t EffectiveUserId() { return geteuid(); }

void SleepMilliseconds(long milliseconds) {
  struct timespec remaining = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

long UptimeSeconds() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 0;
  return info.uptime;
}

void RestoreDefaultSignals() {
  // The kernel's call, since the C library's sigaction refuses the library's
  // own internal signals, which a parent may have left ignored. An all-zero
  // kernel sigaction is SIG_DFL without flags or mask in every layout.
  unsigned long standard[8] = {};
  for (int signal = 1; signal < _NSIG; ++signal) {
    syscall(SYS_rt_sigaction, signal, standard, nullptr, _NSIG / 8);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

void CloseDescriptorsFrom(int first) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, 0) == 0) return;
#endif
  if (DIR* dir = opendir(kOwnDescriptorsPath)) {
    int own = dirfd(dir);
    while (struct dirent* entry = readdir(dir)) {
      int fd = atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd >= first && fd != own) close(fd);
    }
    closedir(dir);
    return;
  }
  struct rlimit limit;
  long max = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                 ? static_cast<long>(limit.rlim_cur)
                 : 1024;
  for (long fd = first; fd < max; ++fd) close(static_cast<int>(fd));
}

}  // namespace host
}  // namespace bootcrank
