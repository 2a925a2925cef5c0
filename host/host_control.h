// The host control library: the kernel's system log, system alerts and the
// boot progress screen.
//
// On Linux the kernel's system log is /dev/kmsg (below the host root), the
// system alert is an "alert" record plus a syslog message at alert priority,
// and the boot progress screen writes "progress" and "status" records.
//
// Thread-safe: each object is used by one thread; the objects share nothing.
#ifndef BOOTCRANK_HOST_HOST_CONTROL_H_
#define BOOTCRANK_HOST_HOST_CONTROL_H_

#include <stdexcept>
#include <string>

namespace Ravel {
namespace Lib {

// The host library's exception class.
class RavelException : public std::runtime_error {
 public:
  explicit RavelException(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace Lib
}  // namespace Ravel

// Node identifier of the kernel's system log.
extern const char* const HKI_NODE_system_log;

namespace HvkCtl {
namespace Util {

// Collects text for one kernel node and hands it over with Set.
class Sysinfo {
 public:
  explicit Sysinfo(const char* node);
  Sysinfo(const Sysinfo&) = delete;
  Sysinfo& operator=(const Sysinfo&) = delete;

  void AddInput(const std::string& text);
  // For the system-log node: one write of "<6>bootcrank: " + text + "\n" to
  // /dev/kmsg, opened for appending (never created). Throws RavelException
  // when the node is unknown or the device cannot be opened or written.
  void Set();

 private:
  std::string node_;
  std::string input_;
};

}  // namespace Util

namespace System {

class SystemInfoImpl {
 public:
  SystemInfoImpl() = default;
  ~SystemInfoImpl() = default;
  // Raises a host-wide alert: an "alert" record and a syslog alert.
  void SetSystemAlert(const std::string& text) const;
};

class KernelProgressScreenImpl {
 public:
  KernelProgressScreenImpl() = default;
  void ProgressText(std::string text);  // a "progress" record
  void StatusText(std::string text);    // a "status" record unless empty
  void Step();                          // nothing to show on Linux
};

}  // namespace System
}  // namespace HvkCtl

namespace bootcrank {
namespace host {

// Processors this process may run on: the CPUs of its affinity mask, else the
// online CPUs, else 1.
unsigned ProcessorCount();

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_HOST_CONTROL_H_
