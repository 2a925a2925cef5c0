// Where the executor's control socket lives, shared by its client and server.
#ifndef BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_
#define BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_

#include <sys/un.h>

#include <string>

namespace bootcrank {
namespace cli {

// HostPath of "/var/run/quarro/bootcrankExecutor.sock".
std::string ControlSocketPath();

// Fills `address` (family AF_UNIX, zero-padded) with `path`. False when the
// path does not fit into sun_path with its terminating NUL; never truncates.
bool ControlSocketAddress(const std::string& path, sockaddr_un* address);

// The longest command line that one request carries: the executor reads a
// request with one receive of this many bytes. Longer ones are refused by
// the client, never cut.
constexpr size_t kMaxCommandLineBytes = 1023;

// The largest path length ControlSocketAddress accepts.
constexpr size_t kMaxControlSocketPath = sizeof(sockaddr_un::sun_path) - 1;

}  // namespace cli
}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_
