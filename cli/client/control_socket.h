// Where the executor's control socket lives, shared by its client and server.
#ifndef BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_
#define BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_

#include <string>

namespace bootcrank {
namespace cli {

// HostPath of "/var/run/quarro/bootcrankExecutor.sock".
std::string ControlSocketPath();

}  // namespace cli
}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_CLIENT_CONTROL_SOCKET_H_
