#include "runcontrol/afstream.h"

#include <stdexcept>

#include <ext/stdio_filebuf.h>

#include "host/error_text.h"
#include "host/open_file.h"

namespace bootcrank {
namespace {

using host::ErrorText;

}  // namespace

afstream::~afstream() {
  if (tempPath.empty()) return;
  try {
    if (rdbuf()->is_open() && rdbuf()->close() == nullptr) setstate(std::ios_base::badbit);
  } catch (...) {
    // setstate throws when the caller enabled exceptions; a destructor must not.
  }
  // The replacement's own destruction removes the temporary file.
}

void afstream::open(const char* path, std::ios_base::openmode mode) {
  // A second open on the same object abandons the earlier temporary file.
  if (!tempPath.empty()) {
    if (rdbuf()->is_open()) rdbuf()->close();
    replacement_.Discard();
    tempPath.clear();
    targetPath.clear();
  }

  int error = replacement_.Begin(path, 0600, host::FileReplacement::Destination::kFixedPath);
  if (error != 0) {
    throw std::runtime_error(std::string("unable to create temporary file to write '") + path +
                             "': " + ErrorText(error));
  }
  tempPath = replacement_.TemporaryPath();
  targetPath = path;

  // The file buffer writes through a descriptor of its own, opened on the
  // name just created; the replacement's descriptor syncs and renames it.
  if (rdbuf()->open(tempPath, mode | std::ios_base::out) == nullptr) {
    setstate(std::ios_base::failbit);
  } else {
    host::MarkCloseOnExec(*rdbuf());
    clear();
  }
  if (!good()) throw std::runtime_error("failed to create temp file: " + ErrorText(errno));
}

void afstream::reopen(const char* path, std::ios_base::openmode mode) {
  this->open(path, mode);
  // Only a regular file is copied: a FIFO or a device at the log's place
  // would hold the run in open or read. Anything else counts as unreadable.
  int error = 0;
  int fd = host::OpenRegularFile(path);
  if (fd < 0) {
    error = errno;
    setstate(std::ios_base::failbit);
  } else {
    __gnu_cxx::stdio_filebuf<char> current(fd, std::ios_base::in | std::ios_base::binary);
    // Inserting a buffer that yields no character at all (an empty
    // destination) sets failbit.
    *this << &current;
    error = errno;
  }
  if (!good()) throw std::runtime_error("failed to write to temp file: " + ErrorText(error));
}

void afstream::commit() {
  if (tempPath.empty() || targetPath.empty()) {
    throw std::runtime_error("commit invoked on an unknown destination");
  }
  // errno still holds the failure of an earlier write, if any: nothing else
  // touches it between the stream's insertions and this point.
  flush();
  if (rdbuf()->close() == nullptr) setstate(std::ios_base::badbit);
  int writeError = errno;
  // A short temporary file must never replace a complete destination.
  if (!good()) {
    throw std::runtime_error("failed to write to temp file: " +
                             ErrorText(writeError != 0 ? writeError : EIO));
  }

  host::FileReplacement::Step failed;
  int modeError = 0;
  int error = replacement_.Commit(&failed, &modeError);
  if (error != 0 && failed == host::FileReplacement::Step::kSync) {
    throw std::runtime_error("failed to write to temp file: " + ErrorText(error));
  }
  if (error != 0) {
    throw std::runtime_error("unable to rename '" + tempPath + "' to '" + targetPath +
                             "': " + ErrorText(error));
  }
  if (modeError != 0) {
    throw std::runtime_error(
        "failed to restore file permissions, file permissions may be incorrect: " +
        ErrorText(modeError));
  }
}

}  // namespace bootcrank
