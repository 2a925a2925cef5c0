// Process helpers for freshly forked children.
#ifndef BOOTCRANK_HOST_PROCESS_H_
#define BOOTCRANK_HOST_PROCESS_H_

namespace bootcrank {
namespace host {

// Closes every descriptor from `first` up to the open-file limit, quickly
// even when that limit is huge (close_range, else the list in /proc/self/fd,
// else a loop up to the limit). Meant for a child between fork and exec.
void CloseDescriptorsFrom(int first);

// The host's uptime in whole seconds (0 when it cannot be read).
long UptimeSeconds();

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_PROCESS_H_
