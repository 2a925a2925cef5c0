// afstream: an output file stream that replaces its destination atomically.
//
// Everything is written to a temporary file beside the destination (the
// destination path plus a unique ".XXXXXX" suffix, mode 0600, same file
// system; host/replace_file.h); only commit() syncs it and moves it into
// place with one rename(2), so a reader of the destination, a crash or a full
// disk finds either the old content or the complete new one. An object
// destroyed without a successful commit removes its temporary file and
// leaves the destination untouched. A symbolic link at the destination is
// refused, never followed.
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

#include "host/replace_file.h"

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
  // file cannot be created (for example a missing directory) or the
  // destination is a symbolic link (ELOOP), and
  // "failed to create temp file: <error>" when the stream cannot be opened.
  void open(const char* path, std::ios_base::openmode mode);

  // open(), then copies the destination's current content into the stream so
  // that later writes append to it. A destination that is missing,
  // unreadable or empty throws "failed to write to temp file: <error>".
  void reopen(const char* path, std::ios_base::openmode mode);

  // Flushes, closes and syncs the temporary file, gives it the destination's
  // permission bits (through its descriptor; a new destination keeps 0600)
  // and renames it over the destination. Refuses the rename, leaving the
  // destination as it was, when writing, closing or syncing failed: "failed
  // to write to temp file: <error>". Other texts: "commit invoked on an
  // unknown destination" (no open before), "unable to rename '<temp>' to
  // '<dest>': <error>" (also for a symbolic link found at the destination),
  // and "failed to restore file permissions, file permissions may be
  // incorrect: <error>" (thrown after the new content is already in place).
  void commit();

  // The generated temporary path; empty until open or reopen created it.
  std::string tempPath;
  // The destination; empty until open or reopen created the temporary file.
  std::string targetPath;

 private:
  host::FileReplacement replacement_;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_AFSTREAM_H_
