#include "cli/client/control_socket.h"

#include <sys/socket.h>

#include <cstring>

#include "host/host_root.h"

namespace bootcrank {
namespace cli {

std::string ControlSocketPath() { return host::HostPath("/var/run/quarro/bootcrankExecutor.sock"); }

bool ControlSocketAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() > kMaxControlSocketPath) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

}  // namespace cli
}  // namespace bootcrank
