#include "plugins/json_plugin.h"

#include <exception>

#include "cli/client/hvcli_executor.h"
#include "graph/barrier.h"
#include "graph/graph.h"
#include "host/log.h"
#include "base/exception.h"
#include "plugins/json_descriptor.h"

namespace bootcrank {

JSONPlugin::JSONPlugin(Graph& graph, const std::string& name, const std::string& path)
    : Plugin(name) {
  JSONDescriptor descriptor = LoadJSONDescriptor(path);
  apiVersion = descriptor.apiVersion;
  runOnce = descriptor.runOnce;
  pluginVersion = std::move(descriptor.pluginVersion);
  requiredFlags = std::move(descriptor.requiredFlags);
  disablingFlags = std::move(descriptor.disablingFlags);
  startCommands = std::move(descriptor.startCommands);
  hostProfileCommands = std::move(descriptor.hostProfileCommands);

  for (const std::string& barrier : descriptor.requiredBarriers) {
    AddDependency(graph.GetBarrier(barrier, true));
  }
  for (const std::string& barrier : descriptor.providedBarriers) {
    AddDependent(graph.GetBarrier(barrier, true));
  }
}

void JSONPlugin::Start() { RunCliCommands("start", Name(), startCommands); }

bool JSONPlugin::UsesHostProfile() { return apiVersion >= 2 && !hostProfileCommands.empty(); }

void JSONPlugin::ApplyHostProfile() {
  if (apiVersion < 2) {
    throw NotImplementedException("json_plugin::ApplyHostProfile");
  }
  RunCliCommands("apply_host_profile", Name(), hostProfileCommands);
}

void JSONPlugin::RunCliCommands(const std::string& method, const std::string& name,
                                const std::vector<std::string>& commands) {
  if (commands.empty()) return;
  int failures = 0;
  for (const std::string& line : commands) {
    try {
      HvcliExecutor::Instance().Execute(line);
    } catch (const std::exception& e) {
      Log_Level(kLogError, "%s\n", e.what());
      ++failures;
    } catch (...) {
      ++failures;
    }
  }
  if (failures > 0) {
    throw MethodFailedException(method, name, "error while executing the cli");
  }
}

}  // namespace bootcrank
