// UNIX stream sockets at a path: the executor's listener and its client's
// connector, and one-shot sends and receives on a connection.
//
// Both ends check whom they talk to: a listener takes only connections from
// its own user, and a client takes only a listener of its own user, since
// the executor runs as the same user as the program that starts it. Every
// descriptor is close-on-exec; blocking calls are retried while interrupted.
//
// Thread-safe: the functions keep no state; a descriptor belongs to its
// caller.
#ifndef BOOTCRANK_HOST_UNIX_SOCKET_H_
#define BOOTCRANK_HOST_UNIX_SOCKET_H_

#include <sys/types.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/unique_fd.h"

namespace bootcrank {
namespace host {

// The longest socket path that fits into a UNIX socket address with its
// terminating NUL. A longer one is refused (ENAMETOOLONG), never truncated.
constexpr size_t kMaxUnixSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// Who is at the other end of a connection: for a client, the process that
// listened; for a listener, the process that connected.
struct PeerCredentials {
  uint32_t userId = 0;
  int32_t processId = 0;
};

// A new UNIX stream socket; not valid, with errno set, when none can be made.
UniqueFd NewUnixStreamSocket();

// --- Listener ---------------------------------------------------------------

// Clears `path` for a new listener: removes a socket that nobody listens on
// any more, a symbolic link (dangling or not) and any other file that is not
// a directory. A socket that a process still listens on stays, and so does a
// directory: binding then fails.
void RemoveStaleSocket(const std::string& path);

// Binds `fd` to `path` (the address has the full size of the structure).
// Returns 0 or the errno value.
int BindUnixSocket(int fd, const std::string& path);

// Listens on `fd` with `backlog`. Returns 0 or the errno value.
int Listen(int fd, int backlog);

// Accepts one connection on the listening `fd`. Not valid, with errno set,
// on failure.
UniqueFd AcceptConnection(int fd);

// Makes a receive on `fd` fail with EAGAIN after `seconds` without data.
void SetReceiveTimeout(int fd, int seconds);

// Stops both directions of `fd`: a listening socket refuses new connections
// from then on.
void ShutdownBoth(int fd);

// --- Connector --------------------------------------------------------------

// Connects the socket `fd` to the listener at `path` and checks it. Returns
// 0 when a process of this process's effective user listens there, else an
// errno value: ENAMETOOLONG, ELOOP for a symbolic link at `path` (never
// followed), connect's own error, or EPERM when the listener runs as another
// user, which `*peer` then names (the caller closes `fd` and sends nothing).
int ConnectUnixSocket(int fd, const std::string& path, PeerCredentials* peer);

// --- Both ends --------------------------------------------------------------

// The credentials of the peer of the connected `fd`. Returns 0 or the errno
// value.
int PeerOf(int fd, PeerCredentials* peer);

// One send of `size` bytes without SIGPIPE; what send returns (-1 with errno).
ssize_t SendOnce(int fd, const void* data, size_t size);

// One receive of at most `size` bytes; what recv returns (-1 with errno, 0 at
// the end of the peer's data).
ssize_t ReceiveOnce(int fd, void* data, size_t size);

// Ends this side's sending on `fd`, so that the peer sees the end of data.
void ShutdownWriting(int fd);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_UNIX_SOCKET_H_
