#include "host/read_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace bootcrank {
namespace host {

ReadResult ReadFile(const std::string& path, size_t limit, std::string* content) {
  content->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return ReadResult::kNotOpened;

  ReadResult result = ReadResult::kComplete;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = ReadResult::kReadError;
      break;
    }
    if (n == 0) break;
    size_t room = limit - content->size();
    if (static_cast<size_t>(n) > room) {
      content->append(buffer, room);
      result = ReadResult::kTooLarge;
      break;
    }
    content->append(buffer, static_cast<size_t>(n));
  }
  int readError = errno;
  close(fd);
  errno = readError;  // kReadError's cause, for the caller's message
  return result;
}

}  // namespace host
}  // namespace bootcrank
