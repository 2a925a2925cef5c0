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

// The process id that `text` holds: a whole decimal number from 1 to the
// largest process id the kernel hands out, optionally surrounded by white
// space (a pid file's line). Anything else (a sign, other characters, 0, a
// value beyond the largest pid, however many digits) gives 0: never a value
// that kill(2) would read as a process group or as every process.
pid_t ParseProcessId(const std::string& text);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_PROCESS_H_
