#include "plugins/debug_plugin.h"

#include <sys/wait.h>

#include "graph/barrier.h"
#include "graph/graph.h"
#include "host/log.h"
#include "host/spawn.h"
#include "base/exception.h"

namespace bootcrank {

DebugPlugin::DebugPlugin(Graph& graph, const std::string& name,
                         const std::vector<std::string>& requiredBarriers,
                         const std::vector<std::string>& providedBarriers,
                         const std::string& command)
    : Plugin(name), command(command) {
  apiVersion = 1;
  for (const std::string& barrier : requiredBarriers) {
    AddDependency(graph.GetBarrier(barrier, true));
  }
  for (const std::string& barrier : providedBarriers) {
    AddDependent(graph.GetBarrier(barrier, true));
  }
}

void DebugPlugin::Start() {
  int status = host::RunShellCommand(command);
  if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  Log_Level(kLogInfo, "debug injection '%s' returned %#08x\n", Name().c_str(),
            static_cast<unsigned>(status));
}

bool DebugPlugin::UsesHostProfile() { return false; }

void DebugPlugin::ApplyHostProfile() {
  throw NotImplementedException("DebugPlugin::ApplyHostProfile");
}

}  // namespace bootcrank
