#include "host/process.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace bootcrank {
namespace host {

void CloseDescriptorsFrom(int first) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, 0) == 0) return;
#endif
  if (DIR* dir = opendir("/proc/self/fd")) {
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

long UptimeSeconds() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 0;
  return info.uptime;
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

}  // namespace host
}  // namespace bootcrank
