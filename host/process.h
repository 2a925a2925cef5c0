// The calling process and its children: waiting, signals, identity, session,
// working directory, and what a freshly forked child does before exec.
//
// Thread-safe, except where a function says it changes process-wide state.
#ifndef BOOTCRANK_HOST_PROCESS_H_
#define BOOTCRANK_HOST_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <cstdint>

namespace bootcrank {
namespace host {

// waitpid(2) for the child `pid` with `options` (0 or WNOHANG), retried while
// interrupted. Returns what waitpid returns: the pid, 0 (WNOHANG, still
// running) or -1 with errno set. `status` may be null.
pid_t WaitForChild(pid_t pid, int* status, int options = 0);

// Sends `signal` to the process `pid`. Returns 0 or the errno value.
int SendSignal(pid_t pid, int signal);

// Sets SIGPIPE to be ignored for the whole process, so that writing to a
// closed connection fails with EPIPE instead of ending it. Returns 0 or the
// errno value. Children never inherit this (see host/spawn.h).
int IgnoreBrokenPipes();

// Changes the process's working directory; 0 or the errno value.
int ChangeDirectory(const char* path);

// Makes the process the leader of a new session; 0 or the errno value.
int StartSession();

// daemon(0, 1): forks, the caller's process exits with status 0, the child
// goes on in a new session with "/" as working directory and the standard
// streams kept. Returns 0 in the child or the errno value (no fork done).
int Detach();

// The process's identities.
uint32_t RealUserId();
uint32_t RealGroupId();
uint32_t EffectiveUserId();

// Sleeps for `milliseconds`, the whole time even when signals interrupt.
void SleepMilliseconds(long milliseconds);

// The host's uptime in whole seconds (0 when it cannot be read).
long UptimeSeconds();

// The state letter and the parent of process `pid`, from /proc/<pid>/stat.
// False when the process is gone or its line cannot be read.
bool ReadProcessStatus(pid_t pid, char* state, pid_t* parent);

// Writes this process's pid in decimal, with a newline, to `fd` and closes
// it: how a detached program tells the one that started it who it is.
void ReportProcessId(int fd);

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
// For a freshly forked child, between fork and exec (async-signal-safe):
// every signal to its default action and an empty signal mask, whatever the
// parent (or the thread that forked) had.
void RestoreDefaultSignals();

// For a freshly forked child, between fork and exec: closes every descriptor
// from `first` up to the open-file limit, quickly even when that limit is
// huge (close_range, else the list in /proc/self/fd, else a loop up to the
// limit).
void CloseDescriptorsFrom(int first);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_PROCESS_H_
