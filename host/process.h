// The calling process and its children: waiting, signals, identity, session,
// working directory, and what a freshly forked child does before exec.
//
// Thread-safe, except where a function says it changes process-wide state.
#ifndef BOOTCRANK_HOST_PROCESS_H_
#define BOOTCRANK_HOST_PROCESS_H_

#include <sys/types.h>

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
