#include "host/host_control.h"

#include <fcntl.h>
#include <sched.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/open_file.h"
#include "host/log.h"

const char* const HKI_NODE_system_log = "system_log";

namespace HvkCtl {
namespace Util {

Sysinfo::Sysinfo(const char* node) : node_(node != nullptr ? node : "") {}

void Sysinfo::AddInput(const std::string& text) { input_ += text; }

void Sysinfo::Set() {
  if (node_ != HKI_NODE_system_log) {
    throw Ravel::Lib::RavelException("unknown sysinfo node '" + node_ + "'");
  }
  std::string device = bootcrank::host::HostPath(bootcrank::host::kKernelLogPath);
  // A FIFO without a reader in the device's place fails (ENXIO) and the
  // message goes to the system log instead of holding the caller.
  int fd = bootcrank::host::OpenWithoutWaiting(device, O_WRONLY | O_APPEND);
  if (fd < 0) {
    throw Ravel::Lib::RavelException("unable to open " + device + ": " +
                                     bootcrank::host::ErrorText(errno));
  }
  std::string line = "<6>bootcrank: " + input_ + "\n";
  ssize_t n;
  do {
    n = write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  int err = errno;
  close(fd);
  if (n != static_cast<ssize_t>(line.size())) {
    throw Ravel::Lib::RavelException("unable to write " + device + ": " +
                                     bootcrank::host::ErrorText(n < 0 ? err : EIO));
  }
}

}  // namespace Util

namespace System {

void SystemInfoImpl::SetSystemAlert(const std::string& text) const {
  bootcrank::host::LogRecord("alert", LOG_ALERT, text);
}

void KernelProgressScreenImpl::ProgressText(std::string text) {
  bootcrank::host::LogRecord("progress", LOG_INFO, text);
}

void KernelProgressScreenImpl::StatusText(std::string text) {
  if (!text.empty()) bootcrank::host::LogRecord("status", LOG_INFO, text);
}

void KernelProgressScreenImpl::Step() {}

}  // namespace System
}  // namespace HvkCtl

namespace bootcrank {
namespace host {

unsigned ProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1u;
}

}  // namespace host
}  // namespace bootcrank
