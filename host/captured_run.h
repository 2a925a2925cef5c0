// Running a short-lived helper program for what it writes on its standard
// output, within a time limit.
//
// The helper may be broken: it may crash, exit early, hang, write without
// end, or leave a process of its own holding the output open. Every one of
// these ends the call by the deadline with an outcome that says which, and
// the helper itself is always reaped; only its own process is ever killed.
//
// Thread-safe: any thread may call it; each call owns its child.
#ifndef BOOTCRANK_HOST_CAPTURED_RUN_H_
#define BOOTCRANK_HOST_CAPTURED_RUN_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace bootcrank {
namespace host {

struct CapturedRun {
  enum class End {
    kExited,      // it exited; `code` is its exit status
    kSignalled,   // a signal ended it; `code` is the signal number
    kTimedOut,    // still running at the deadline: killed (SIGKILL) and reaped
    kTooLong,     // wrote more than the output limit: killed and reaped
    kNotStarted,  // the pipe or the spawn failed; `code` is the errno value
    kLost,        // its exit status could not be read; `code` is the errno
  };
  End end = End::kNotStarted;
  int code = 0;
  // What it wrote on standard output: everything up to its exit (or up to
  // the deadline, or the first `outputLimit` bytes).
  std::string output;
};

// Starts the program at `argv[0]` (a full path) with `argv` and an empty
// environment; its standard input and error are this process's, its
// standard output a pipe read by this call, and no other descriptor is
// passed on. Returns once the program has ended and been reaped: when it
// exits, the output it left in the pipe is taken even if a process that it
// started still holds the pipe open.
CapturedRun RunCapturingOutput(const std::vector<std::string>& argv,
                               std::chrono::milliseconds timeLimit, size_t outputLimit);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_CAPTURED_RUN_H_
