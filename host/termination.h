// Termination requests: SIGTERM, SIGINT and SIGHUP end a run cleanly instead
// of killing the program where it stands.
//
// The handlers only record the signal and make a descriptor readable; the
// run notices through TerminationSignal (polled by the executor's workers
// before they start a node) and TerminationFd (polled by whatever waits on
// a descriptor, and by the thread that ends the run's children).
//
// Thread-safe; the handlers are async-signal-safe.
#ifndef BOOTCRANK_HOST_TERMINATION_H_
#define BOOTCRANK_HOST_TERMINATION_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <thread>

namespace bootcrank {
namespace host {

// Installs the handlers (without SA_RESTART, so that a blocking wait for a
// lock or a terminal returns EINTR). Call once, on the main thread, before
// any other thread exists. Returns false when the wake-up pipe cannot be made.
bool InstallTerminationHandlers();

// The first termination signal received, or 0.
int TerminationSignal();

// "SIGTERM" for SIGTERM, and so on; and the C library's description of it
// ("Terminated").
std::string SignalName(int signal);
std::string SignalDescription(int signal);

// Readable once a termination signal arrived (never read from: it stays
// readable); -1 before InstallTerminationHandlers.
int TerminationFd();

// Waits up to `milliseconds` for `fd` to become readable (or to reach end of
// file or an error). Returns 1 when it did, 0 on a time-out, and -1 when a
// termination signal arrived first (only with `orTermination`).
int WaitReadable(int fd, int milliseconds, bool orTermination);

// Ends every descendant process of this one: SIGTERM to each (also to those
// that appear meanwhile), then, after `graceMilliseconds`, SIGKILL to those
// still there. Processes that left the tree before (daemons that detached,
// reparented elsewhere) are the host's and are not touched; neither is
// `spare` (0: none). From the call on this process is a child subreaper, so
// that a descendant orphaned meanwhile stays in reach. Returns how many
// processes were sent SIGTERM.
int TerminateDescendants(int graceMilliseconds, pid_t spare);

// Runs `onSignal(signal)` on a thread of its own once a termination signal
// arrives (at most once). The destructor ends and joins the thread, first
// letting a running `onSignal` finish.
class TerminationWatcher {
 public:
  explicit TerminationWatcher(std::function<void(int)> onSignal);
  ~TerminationWatcher();
  TerminationWatcher(const TerminationWatcher&) = delete;
  TerminationWatcher& operator=(const TerminationWatcher&) = delete;

 private:
  void Watch();

  std::function<void(int)> onSignal_;
  int stopRead_ = -1;
  int stopWrite_ = -1;
  std::thread thread_;
};

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_TERMINATION_H_
