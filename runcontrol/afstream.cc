#include "runcontrol/afstream.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <ext/stdio_filebuf.h>

#include "host/open_file.h"

namespace bootcrank {
namespace {

const char kTempSuffix[] = ".XXXXXX";

std::string ErrorText(int error) { return std::strerror(error); }

// The descriptor under a libstdc++ file buffer (-1 when closed or unknown).
// The buffer keeps it in a protected member; a pointer to that member, formed
// in a derived class, reads it without touching the buffer's state.
struct FilebufDescriptor : std::filebuf {
  static int Of(std::filebuf& buffer) {
#if defined(__GLIBCXX__)
    return (buffer.*(&FilebufDescriptor::_M_file)).fd();
#else
    (void)buffer;
    return -1;
#endif
  }
};

// The standard file buffer opens without O_CLOEXEC; mark the descriptor right
// after the open so that children spawned later do not inherit it.
void MarkCloseOnExec(std::filebuf& buffer) {
  int fd = FilebufDescriptor::Of(buffer);
  if (fd < 0) return;
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace

afstream::~afstream() {
  if (tempPath.empty()) return;
  try {
    if (rdbuf()->is_open() && rdbuf()->close() == nullptr) setstate(std::ios_base::badbit);
  } catch (...) {
    // setstate throws when the caller enabled exceptions; a destructor must not.
  }
  unlink(tempPath.c_str());
}

void afstream::open(const char* path, std::ios_base::openmode mode) {
  // A second open on the same object abandons the earlier temporary file.
  if (!tempPath.empty()) {
    if (rdbuf()->is_open()) rdbuf()->close();
    unlink(tempPath.c_str());
    tempPath.clear();
    targetPath.clear();
  }

  size_t length = std::strlen(path);
  char* pattern = static_cast<char*>(calloc(length + sizeof kTempSuffix, 1));
  if (pattern == nullptr) throw std::runtime_error("insufficient memory to allocate buffer");
  int formatted = snprintf(pattern, length + sizeof kTempSuffix, "%s%s", path, kTempSuffix);
  if (formatted < 0 || static_cast<size_t>(formatted) != length + sizeof kTempSuffix - 1) {
    free(pattern);
    throw std::runtime_error("unable to allocate mkstemp pattern");
  }
  int fd = mkostemp(pattern, O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    free(pattern);
    throw std::runtime_error(std::string("unable to create temporary file to write '") + path +
                             "': " + ErrorText(error));
  }
  ::close(fd);
  tempPath = pattern;
  targetPath = path;
  free(pattern);

  if (rdbuf()->open(tempPath, mode | std::ios_base::out) == nullptr) {
    setstate(std::ios_base::failbit);
  } else {
    MarkCloseOnExec(*rdbuf());
    clear();
  }
  if (!good()) throw std::runtime_error("failed to create temp file: " + ErrorText(errno));
}

void afstream::reopen(const char* path, std::ios_base::openmode mode) {
  open(path, mode);
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

  std::string noted;
  struct stat before;
  errno = 0;
  int statResult = stat(targetPath.c_str(), &before);
  int statError = errno;
  if (statResult != 0 && statError != ENOENT) noted = ErrorText(statError);

  if (rename(tempPath.c_str(), targetPath.c_str()) != 0) {
    int error = errno;
    throw std::runtime_error("unable to rename '" + tempPath + "' to '" + targetPath +
                             "': " + ErrorText(error));
  }
  if (statResult == 0 && noted.empty() && statError == 0) {
    if (chmod(targetPath.c_str(), before.st_mode & 07777) != 0) noted = ErrorText(errno);
  }
  if (!noted.empty()) {
    throw std::runtime_error(
        "failed to restore file permissions, file permissions may be incorrect: " + noted);
  }
}

}  // namespace bootcrank
