// afstream: an output file stream that replaces its destination atomically.
//
// Everything is written to a temporary file beside the destination (the
// destination path plus a unique ".XXXXXX" suffix, mode 0600, same file
// system); only commit() moves it into place with one rename(2), so a reader
// of the destination sees either the old content or the complete new one.
// An object destroyed without a successful commit removes its temporary file
// and leaves the destination untouched.
//
// Lifecycle: empty (default constructed) -> writing (open or reopen
// succeeded) -> committed (rename done; the file buffer is closed, further
// writes are not supported). Destruction while writing, or an exception from
// reopen or commit before the rename, discards the temporary file.
//
// Every failure throws std::runtime_error with a text naming the operation,
// its file and the system's error text. The descriptor of the stream is
// close-on-exec, so children forked later do not inherit the open log.
//
// Thread-safety: one object is used by one thread at a time; no lock is held.
#ifndef BOOTCRANK_RUNCONTROL_AFSTREAM_H_
#define BOOTCRANK_RUNCONTROL_AFSTREAM_H_

#include <fstream>
#include <ios>
#include <string>

namespace bootcrank {

class afstream : public std::ofstream {
 public:
  afstream() = default;
  // Closes the stream and unlinks `tempPath` when it is set; never throws.
  ~afstream() override;
  afstream(const afstream&) = delete;
  afstream& operator=(const afstream&) = delete;

  // Creates the temporary file for the destination `path` and opens the
  // stream on it, empty, with `mode` plus output. Throws
  // "unable to create temporary file to write '<path>': <error>" when the
  // file cannot be created (for example a missing directory) and
  // "failed to create temp file: <error>" when the stream cannot be opened.
  void open(const char* path, std::ios_base::openmode mode);

  // open(), then copies the destination's current content into the stream so
  // that later writes append to it. A destination that is missing,
  // unreadable or empty throws "failed to write to temp file: <error>".
  void reopen(const char* path, std::ios_base::openmode mode);

  // Flushes and closes the stream and renames the temporary file over the
  // destination, restoring the destination's former permission bits (a new
  // destination keeps 0600). Refuses the rename, leaving the destination as
  // it was, when writing or closing failed: "failed to write to temp file:
  // <error>". Other texts: "commit invoked on an unknown destination" (no
  // open before), "unable to rename '<temp>' to '<dest>': <error>", and
  // "failed to restore file permissions, file permissions may be incorrect:
  // <error>" (thrown after the new content is already in place).
  void commit();

  // The generated temporary path; empty until open or reopen created it.
  std::string tempPath;
  // The destination; empty until open or reopen created the temporary file.
  std::string targetPath;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_AFSTREAM_H_
