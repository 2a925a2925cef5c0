// Replacing a file as a whole, the one way the program writes its output
// files (the profiling log, the run-once record, the dependency dump).
//
// The new content goes to a temporary file beside the destination (its path
// plus "." and six letters or digits, in the same directory and so on the
// same file system), which is synced to disk, given the destination's
// permission bits through its descriptor, and renamed over the destination.
// A reader, a crash or a full disk therefore finds either the old file or
// the complete new one, and a link swapped in meanwhile never redirects a
// permission change.
//
// Thread-safety: an object is used by one thread at a time.
#ifndef BOOTCRANK_HOST_REPLACE_FILE_H_
#define BOOTCRANK_HOST_REPLACE_FILE_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "host/unique_fd.h"

namespace bootcrank {
namespace host {

class FileReplacement {
 public:
  // What may be found at the destination. A symbolic link at a fixed
  // output's path is refused with ELOOP, never followed.
  enum class Destination {
    // A fixed output that must be a file: anything but a missing path or a
    // regular file is refused with the error that opening it for writing
    // gives (ENXIO for a FIFO nobody reads, EISDIR for a directory), or
    // replaced when it opens (a device).
    kFixedFile,
    // A fixed output whose path is replaced whatever is found there.
    kFixedPath,
    // A path that the user named: a missing path or a regular file is
    // replaced; anything else (a device such as /dev/stdout, a FIFO, a link)
    // is opened and written in place, as the user asked.
    kNamedByUser,
  };

  // The step of Commit that failed.
  enum class Step {
    kSync,    // the content could not be made durable; nothing renamed
    kRename,  // the destination is unchanged
  };

  FileReplacement() = default;
  ~FileReplacement() { Discard(); }
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates the temporary file for `path` (close-on-exec, never through a
  // link, with `mode` less the umask), or opens `path` itself as above.
  // Returns 0 or the errno value. A second Begin discards the first.
  int Begin(const std::string& path, mode_t mode, Destination destination);

  // The descriptor to write the new content to (-1 before Begin).
  int Descriptor() const { return file_.Get(); }
  // The temporary file's path; "" before Begin and when writing in place.
  const std::string& TemporaryPath() const { return temporary_; }

  // Writes all of `data`, retrying short and interrupted writes. Returns 0
  // or the errno value.
  int Write(const char* data, size_t size);

  // Puts the new content in place. Returns 0, or the errno value with the
  // failed step in `*failed`; a symbolic link found at the destination now
  // is refused (kRename, ELOOP). `*modeError` receives the errno value of
  // reading the destination's mode or setting it (0 when both went well):
  // the replacement goes on without it. Written in place: only closes.
  int Commit(Step* failed, int* modeError);

  // Closes and removes the temporary file unless it was committed.
  void Discard();

 private:
  UniqueFd file_;
  std::string path_;
  std::string temporary_;
};

// Removes the temporary files that a killed run left for `path` (the names
// that FileReplacement gives, regular files only), and nothing else.
void RemoveLeftoverTemporaries(const std::string& path);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_REPLACE_FILE_H_
