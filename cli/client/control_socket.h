// Where the executor's control socket lives, shared by its client and server.
#ifndef BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_
#define BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_

#include <cstddef>
#include <string>

namespace bootcrank {
namespace cli {

// HostPath of "/var/run/quarro/bootcrankExecutor.sock".
std::string ControlSocketPath();

// The longest command line that one request carries: the executor reads a
// request with one receive of this many bytes. Longer ones are refused by
// the client, never cut.
constexpr size_t kMaxCommandLineBytes = 1023;

}  // namespace cli
}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_
