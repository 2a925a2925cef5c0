// Reading files that the host owns, close-on-exec and without blocking on
// FIFOs.
//
// Thread-safe.
#ifndef BOOTCRANK_HOST_READ_FILE_H_
#define BOOTCRANK_HOST_READ_FILE_H_

#include <cstddef>
#include <string>

namespace bootcrank {
namespace host {

enum class ReadResult {
  kComplete,   // the whole file is in `content`
  kNotOpened,  // open failed; `content` is empty
  kReadError,  // a read failed (a directory, an I/O error); partial content
  kTooLarge,   // the file holds more than `limit` bytes; `limit` were read
};

// Reads the file at `path` (not resolved below the host root: callers pass
// the path they mean). A FIFO without a writer reads as empty.
ReadResult ReadFile(const std::string& path, size_t limit, std::string* content);

// Opens `path` for reading, close-on-exec, only when it is a regular file, so
// that a FIFO or a device placed where a file is expected cannot hold the
// caller in open(2) or read(2). Returns the descriptor (blocking mode), or -1
// with errno set: the open's own error, or EINVAL for anything that is not a
// regular file.
int OpenRegularFile(const std::string& path);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_READ_FILE_H_
