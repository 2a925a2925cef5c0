#include "host/unique_fd.h"

#include <unistd.h>

#include <cerrno>

namespace bootcrank {
namespace host {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) {
    int saved = errno;
    close(fd_);
    errno = saved;
  }
  fd_ = fd;
}

int UniqueFd::Close() {
  if (fd_ < 0) return 0;
  int result = close(fd_);
  int error = result != 0 && errno != EINTR ? errno : 0;
  fd_ = -1;
  return error;
}

}  // namespace host
}  // namespace bootcrank
