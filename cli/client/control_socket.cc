#include "cli/client/control_socket.h"

#include "host/host_paths.h"
#include "host/host_root.h"

namespace bootcrank {
namespace cli {

std::string ControlSocketPath() { return host::HostPath(host::kControlSocketPath); }

}  // namespace cli
}  // namespace bootcrank
