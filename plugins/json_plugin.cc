#include "plugins/json_plugin.h"

#include <exception>

#include "cli/client/control_socket.h"
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

void JSONPlugin::Start() { RunCliCommands("start", Name(), startCommands, &report.commands); }

bool JSONPlugin::UsesHostProfile() { return apiVersion >= 2 && !hostProfileCommands.empty(); }

void JSONPlugin::ApplyHostProfile() {
  if (apiVersion < 2) {
    throw NotImplementedException("json_plugin::ApplyHostProfile");
  }
  RunCliCommands("apply_host_profile", Name(), hostProfileCommands, &report.commands);
}

void JSONPlugin::RunCliCommands(const std::string& method, const std::string& name,
                                const std::vector<std::string>& commands,
                                std::vector<PluginReport::Command>* sent) {
  if (commands.empty()) return;
  // The control protocol carries a bounded command line; a longer one would
  // arrive cut and could succeed as a different command. Refuse the method
  // before any of its commands runs.
  for (const std::string& line : commands) {
    if (line.size() <= cli::kMaxCommandLineBytes) continue;
    std::string reason =
        "CLI command of " + std::to_string(line.size()) + " bytes is longer than the limit of " +
        std::to_string(cli::kMaxCommandLineBytes) + " bytes: " + line.substr(0, 60) + "...";
    Log_Level(kLogError, "plugin '%s': %s\n", name.c_str(), reason.c_str());
    throw MethodFailedException(method, name, reason);
  }
  int failures = 0;
  for (const std::string& line : commands) {
    PluginReport::Command command{line, false, ""};
    try {
      HvcliExecutor::Instance().Execute(line, name);
      command.succeeded = true;
    } catch (const std::exception& e) {
      Log_Level(kLogError, "%s\n", e.what());
      command.error = e.what();
      ++failures;
    } catch (...) {
      command.error = "unknown exception";
      ++failures;
    }
    if (sent != nullptr) sent->push_back(std::move(command));
  }
  if (failures > 0) {
    throw MethodFailedException(method, name, "error while executing the cli");
  }
}

}  // namespace bootcrank
