// Opening files that the host owns without waiting on them.
//
// A FIFO placed where a log, a record or a device is expected would hold a
// plain open(2) until a peer appears: a reader for writing, a writer for
// reading. These calls open with O_NONBLOCK, so such an open fails at once
// (ENXIO for writing) or finds nothing to read, and then switch the
// descriptor back to blocking I/O, which is what the callers' writes and
// reads expect. Descriptors are close-on-exec.
//
// Thread-safe.
#ifndef BOOTCRANK_HOST_OPEN_FILE_H_
#define BOOTCRANK_HOST_OPEN_FILE_H_

#include <sys/types.h>

#include <fstream>
#include <string>

namespace bootcrank {
namespace host {

// open(2) of `path` with `flags` (plus O_CLOEXEC and O_NOCTTY) and `mode`,
// never waiting for a FIFO's peer. Returns the descriptor in blocking mode,
// or -1 with errno set.
int OpenWithoutWaiting(const std::string& path, int flags, mode_t mode = 0644);

// Opens `path` for reading only when it is a regular file. Returns the
// descriptor, or -1 with errno set: the open's own error, EISDIR for a
// directory (what reading it would give), or EINVAL for anything else that
// is not a regular file.
int OpenRegularFile(const std::string& path);

// Marks the descriptor under a standard file buffer close-on-exec (the
// buffer opens without O_CLOEXEC), so that children spawned later do not
// inherit it. Nothing happens for a closed buffer.
void MarkCloseOnExec(std::filebuf& buffer);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_OPEN_FILE_H_
