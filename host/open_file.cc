#include "host/open_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bootcrank {
namespace host {

namespace {

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

}  // namespace

int OpenWithoutWaiting(const std::string& path, int flags, mode_t mode) {
  int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
  if (fd < 0) return -1;
  int status = fcntl(fd, F_GETFL);
  if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

int OpenRegularFile(const std::string& path) {
  int fd = OpenWithoutWaiting(path, O_RDONLY);
  if (fd < 0) return -1;
  struct stat info;
  // A directory fails as reading it would (EISDIR); other kinds with EINVAL.
  int error = fstat(fd, &info) != 0   ? errno
              : S_ISREG(info.st_mode) ? 0
              : S_ISDIR(info.st_mode) ? EISDIR
                                      : EINVAL;
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

void MarkCloseOnExec(std::filebuf& buffer) {
  int fd = FilebufDescriptor::Of(buffer);
  if (fd < 0) return;
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace host
}  // namespace bootcrank
