// Process helpers for freshly forked children.
#ifndef BOOTCRANK_HOST_PROCESS_H_
#define BOOTCRANK_HOST_PROCESS_H_

#include <sys/types.h>

#include <string>

namespace bootcrank {
namespace host {

// Closes every descriptor from `first` up to the open-file limit, quickly
// even when that limit is huge (close_range, else the list in /proc/self/fd,
// else a loop up to the limit). Meant for a child between fork and exec.
void CloseDescriptorsFrom(int first);

// The host's uptime in whole seconds (0 when it cannot be read).
long UptimeSeconds();

// The host's name and the kernel's release, as uname(2) gives them ("" when
// it cannot).
std::string HostName();
std::string KernelRelease();

// The process id that `text` holds: a whole decimal number from 1 to the
// largest process id the kernel hands out, optionally surrounded by white
// space (a pid file's line). Anything else (a sign, other characters, 0, a
// value beyond the largest pid, however many digits) gives 0: never a value
// that kill(2) would read as a process group or as every process.
pid_t ParseProcessId(const std::string& text);

// A process that this program started and may signal, held by a pidfd so
// that a signal can never reach another process that reused its pid. Where
// the kernel has no pidfds, the pid is used only while /proc/<pid>/exe is
// still the program that was started.
class ProcessHandle {
 public:
  ProcessHandle() = default;
  ~ProcessHandle();
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  // Takes `pid`, a process running `program`, replacing any earlier one.
  void Open(pid_t pid, const std::string& program);
  void Close();
  pid_t Pid() const { return pid_; }
  // Whether the process still runs (false once it is a zombie or gone).
  bool Alive() const;
  // Sends `signal`; false when the process is gone or not ours any more.
  bool Signal(int signal) const;
  // Waits up to `milliseconds` for the process to end; true once it has.
  bool WaitGone(int milliseconds) const;

 private:
  pid_t pid_ = 0;
  int pidfd_ = -1;
  std::string program_;
};

// Reads from `fd` until end of file, at most `limit` bytes, for at most
// `milliseconds`. False on a time-out, a read error or more than `limit`.
bool ReadAllWithin(int fd, int milliseconds, size_t limit, std::string* text);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_PROCESS_H_
