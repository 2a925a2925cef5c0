#include "daemons/daemon_plugin.h"

#include <exception>

#include "daemons/execute_with_timeout.h"
#include "graph/barrier.h"
#include "graph/graph.h"
#include "base/graph_lock.h"
#include "host/host_control.h"
#include "host/log.h"
#include "base/exception.h"
#include "host/logging.h"

namespace bootcrank {

DaemonPlugin::DaemonPlugin(const std::string& name, uint32_t priority, uint32_t executionClass)
    : Plugin(name, executionClass), priority(priority) {}

DaemonPlugin::~DaemonPlugin() = default;

const std::string& DaemonPlugin::Command(int32_t operation) const {
  auto found = operations.find(operation);
  if (found == operations.end()) {
    throw Exception(Name() + " Daemon operations are not initialized");
  }
  return found->second;
}

void DaemonPlugin::Start() {
  try {
    ExecuteWithTimeout(Command(kStartOperation));
  } catch (const std::exception& e) {
    Log_Level(kLogWarning, "Bootcrank failed to start: %s reason: %s\n", Name().c_str(), e.what());
    throw MethodFailedException("start", Name(), e.what());
  }
  Log_Level(kLogInfo, "%s started.\n", Name().c_str());
}

void DaemonPlugin::Stop() {
  try {
    ExecuteWithTimeout(Command(kStopOperation));
  } catch (const std::exception& e) {
    Log_Level(kLogWarning, "Bootcrank failed to stop: %s reason: %s\n", Name().c_str(), e.what());
    throw;
  }
  Log_Level(kLogInfo, "%s stopped.\n", Name().c_str());
}

void DaemonPlugin::Activate(Executor* executor) {
  HvkCtl::System::KernelProgressScreenImpl screen;
  screen.ProgressText("Starting service " + Name());
  Plugin::Activate(executor);
  screen.Step();
}

void DaemonPlugin::Deactivate(Executor*) {
  const char* name = Name().c_str();
  KernelLog("Deactivating Daemon %s.", name);
  Log_Level(kLogInfo, "executing stop for daemon %s.\n", name);
  try {
    Stop();
  } catch (const std::exception& e) {
    KernelLog("Daemon %s deactivation failed: %s", name, e.what());
    return;
  }
  KernelLog("Daemon %s deactivated.", name);
}

void DaemonPlugin::ApplyHostProfile() {
  throw NotImplementedException("DaemonPlugin::ApplyHostProfile");
}

void DaemonPlugin::Restart() { throw NotImplementedException("DaemonPlugin::Restart"); }

void DaemonPlugin::SSLReset() { throw NotImplementedException("DaemonPlugin::SSLReset"); }

LegacyDaemonPlugin::LegacyDaemonPlugin(Graph& graph, const std::string& name,
                                       const std::string& scriptPath, uint32_t priority)
    : DaemonPlugin(name, priority, 3) {
  GraphLockHolder lock;
  PriorityBarrier* barrier = graph.GetPriorityBarrier(priority);
  sourceFile = scriptPath;
  operations[kStartOperation] = scriptPath + " start";
  operations[kStopOperation] = scriptPath + " stop";
  barrier->AddToPriorityChain(this);
}

void LegacyDaemonPlugin::ApplyHostProfile() {
  throw NotImplementedException("LegacyDaemonPlugin::ApplyHostProfile");
}

}  // namespace bootcrank
