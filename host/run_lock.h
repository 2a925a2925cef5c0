// The run lock: one run of the program per host root at a time.
//
// A run holds an exclusive flock(2) on a file of the host root from its start
// to its end (the descriptor stays open, close-on-exec, until the process
// ends), and writes its pid into the file so that a second run can name the
// holder while it waits.
//
// Main thread only.
#ifndef BOOTCRANK_HOST_RUN_LOCK_H_
#define BOOTCRANK_HOST_RUN_LOCK_H_

#include <sys/types.h>

#include <functional>
#include <string>

namespace bootcrank {
namespace host {

enum class RunLockResult {
  kHeld,         // this process holds the lock
  kNested,       // an ancestor of this process holds it: waiting would never end
  kUnavailable,  // the file cannot be opened or locked (errno says why)
  kInterrupted,  // a termination signal arrived while waiting
};

// Takes the lock on `path` (created 0644, its directory 0755, never through
// a symbolic link). When another process holds it, calls `waiting` once with
// the holder's pid (0 when unknown) and waits; when that process is an
// ancestor of this one (a plugin running the program again), gives up at
// once with kNested and `holder` set.
RunLockResult AcquireRunLock(const std::string& path, const std::function<void(pid_t)>& waiting,
                             pid_t* holder);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_RUN_LOCK_H_
