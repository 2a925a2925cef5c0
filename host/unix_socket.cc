#include "host/unix_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/process.h"

namespace bootcrank {
namespace host {

namespace {

// Fills `address` (zero-padded); false when `path` does not fit.
bool AddressOf(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() > kMaxUnixSocketPath) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

// connect(2) retried while interrupted; 0 or the errno value.
int ConnectTo(int fd, const sockaddr_un& address) {
  int result;
  do {
    result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result < 0 && errno == EINTR);
  if (result < 0 && errno == EISCONN) return 0;  // completed after an interruption
  return result < 0 ? errno : 0;
}

}  // namespace

UniqueFd NewUnixStreamSocket() { return UniqueFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

void RemoveStaleSocket(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return;
  if (S_ISSOCK(st.st_mode)) {
    sockaddr_un address;
    UniqueFd probe = NewUnixStreamSocket();
    // Only a refused connection proves that nobody listens.
    if (!AddressOf(path, &address) || !probe.Valid() ||
        ConnectTo(probe.Get(), address) != ECONNREFUSED) {
      return;
    }
  }
  unlink(path.c_str());
}

int BindUnixSocket(int fd, const std::string& path) {
  sockaddr_un address;
  if (!AddressOf(path, &address)) return ENAMETOOLONG;
  return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
}

int Listen(int fd, int backlog) { return listen(fd, backlog) == 0 ? 0 : errno; }

UniqueFd AcceptConnection(int fd) {
  int connection;
  do {
    connection = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (connection < 0 && errno == EINTR);
  return UniqueFd(connection);
}

void SetReceiveTimeout(int fd, int seconds) {
  timeval timeout{seconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

void ShutdownBoth(int fd) { shutdown(fd, SHUT_RDWR); }

int ConnectUnixSocket(int fd, const std::string& path, PeerCredentials* peer) {
  sockaddr_un address;
  if (!AddressOf(path, &address)) return ENAMETOOLONG;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
  int error = ConnectTo(fd, address);
  if (error == 0) error = PeerOf(fd, peer);
  if (error == 0 && peer->userId != EffectiveUserId()) error = EPERM;
  return error;
}

int PeerOf(int fd, PeerCredentials* peer) {
  struct ucred credentials;
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return errno;
  peer->userId = credentials.uid;
  peer->processId = credentials.pid;
  return 0;
}

ssize_t SendOnce(int fd, const void* data, size_t size) {
  ssize_t sent;
  do {
    sent = send(fd, data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

ssize_t ReceiveOnce(int fd, void* data, size_t size) {
  ssize_t received;
  do {
    received = recv(fd, data, size, 0);
  } while (received < 0 && errno == EINTR);
  return received;
}

void ShutdownWriting(int fd) { shutdown(fd, SHUT_WR); }

}  // namespace host
}  // namespace bootcrank
