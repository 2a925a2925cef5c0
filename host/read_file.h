// Reading a whole (small) file into memory, close-on-exec and without
// blocking on FIFOs.
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
  kReadError,  // a read failed (a directory, an I/O error); partial content,
               // errno says why
  kTooLarge,   // the file holds more than `limit` bytes; `limit` were read
};

// Reads the file at `path` (not resolved below the host root: callers pass
// the path they mean). A FIFO without a writer reads as empty.
ReadResult ReadFile(const std::string& path, size_t limit, std::string* content);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_READ_FILE_H_
