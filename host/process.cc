#include "host/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

void ReportProcessId(int fd) {
  std::string pid = std::to_string(getpid()) + "\n";
  ssize_t written;
  do {
    written = write(fd, pid.data(), pid.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
}

std::string HostName() {
  struct utsname names;
  return uname(&names) == 0 ? names.nodename : "";
}

std::string KernelRelease() {
  struct utsname names;
  return uname(&names) == 0 ? names.release : "";
}

namespace {

// The kernel's pid_max; 2^22, the largest it can be set to, when it cannot
// be read.
long LargestProcessId() {
  constexpr long kPidMaxLimit = 4194304;
  long largest = 0;
  if (FILE* file = fopen("/proc/sys/kernel/pid_max", "re")) {
    if (fscanf(file, "%ld", &largest) != 1) largest = 0;
    fclose(file);
  }
  return largest > 0 && largest <= kPidMaxLimit ? largest : kPidMaxLimit;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool ReadProcessStatus(pid_t pid, char* state, pid_t* parent) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* file = fopen(path, "re");
  if (file == nullptr) return false;
  char line[1024];
  size_t size = fread(line, 1, sizeof line - 1, file);
  fclose(file);
  line[size] = '\0';
  // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so
  // the fields are read from the last ')'.
  const char* close = strrchr(line, ')');
  int parentId = 0;
  if (close == nullptr || sscanf(close + 1, " %c %d", state, &parentId) != 2) return false;
  *parent = parentId;
  return true;
}

// Whether `pid` is a process that has not ended (not a zombie).
static bool ProcessRuns(pid_t pid) {
  char state = 0;
  pid_t parent = 0;
  return ReadProcessStatus(pid, &state, &parent) && state != 'Z' && state != 'X';
}

pid_t ParseProcessId(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return 0;
  const long largest = LargestProcessId();
  long value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value > largest) return 0;  // also ends the loop before any overflow
  }
  return static_cast<pid_t>(value);
}

ProcessHandle::~ProcessHandle() { Close(); }

void ProcessHandle::Open(pid_t pid, const std::string& program) {
  Close();
  pid_ = pid;
  program_ = program;
#ifdef SYS_pidfd_open
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd_ >= 0) fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
#endif
}

void ProcessHandle::Close() {
  if (pidfd_ >= 0) close(pidfd_);
  pidfd_ = -1;
  pid_ = 0;
}

bool ProcessHandle::Alive() const {
  if (pid_ <= 0) return false;
  if (pidfd_ >= 0) {
    struct pollfd exited = {pidfd_, POLLIN, 0};
    if (poll(&exited, 1, 0) == 1) return false;  // readable once it ended
  }
  return ProcessRuns(pid_);
}

bool ProcessHandle::Signal(int signal) const {
  if (pid_ <= 0) return false;
#ifdef SYS_pidfd_send_signal
  if (pidfd_ >= 0) return syscall(SYS_pidfd_send_signal, pidfd_, signal, nullptr, 0) == 0;
#endif
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid_));
  ssize_t size = readlink(link, target, sizeof target - 1);
  if (size < 0 || std::string(target, static_cast<size_t>(size)) != program_) return false;
  return kill(pid_, signal) == 0;
}

bool ProcessHandle::WaitGone(int milliseconds) const {
  for (int waited = 0;; waited += 20) {
    if (!Alive()) return true;
    if (waited >= milliseconds) return false;
    poll(nullptr, 0, 20);
  }
}

bool ReadAllWithin(int fd, int milliseconds, size_t limit, std::string* text) {
  text->clear();
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= milliseconds) return false;
    struct pollfd readable = {fd, POLLIN, 0};
    int ready = poll(&readable, 1, static_cast<int>(milliseconds - elapsed));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[256];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (text->size() + static_cast<size_t>(n) > limit) return false;
    text->append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace host
}  // namespace bootcrank
