#include "host/process.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <unistd.h>

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

}  // namespace host
}  // namespace bootcrank
