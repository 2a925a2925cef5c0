#include "graph/barrier.h"

#include "base/graph_lock.h"
#include "host/host_control.h"
#include "host/log.h"
#include "graph/graph.h"
#include "base/settings.h"

namespace bootcrank {

InitBarrier::InitBarrier(const std::string& name) : Node(name, 1) {}

std::string InitBarrier::DotAttributes() const { return " shape=box"; }

std::string InitBarrier::MissingProviderMessage() const {
  std::string text = "Bootcrank dependency error: Initialization barrier \"" + Name() +
                     "\" is not provided by any plugin but the following "
                     "plugins require it: ";
  const char* separator = "";
  for (const Node* dependent : Dependents()) {
    text += separator;
    text += "\"" + dependent->Name() + "\"";
    separator = ", ";
  }
  return text;
}

void InitBarrier::Activate(Executor*) {
  GraphLockHolder lock;
  if (!Dependencies().empty()) return;
  std::string text = MissingProviderMessage();
  if (!Settings::Instance().invoke) {
    HvkCtl::System::SystemInfoImpl().SetSystemAlert(text);
  }
  Log_Level(kLogWarning, "%s\n", text.c_str());
}

std::string PriorityBarrier::NameFor(uint32_t priority) {
  return "_<->_priority_<->_" + std::to_string(priority);
}

PriorityBarrier::PriorityBarrier(Graph* graph, uint32_t priority)
    : InitBarrier(NameFor(priority)), graph_(graph), priority_(priority) {}

void PriorityBarrier::Activate(Executor*) {}

std::string PriorityBarrier::DotAttributes() const { return " shape=trapezium"; }

void PriorityBarrier::AddToPriorityChain(Node* plugin) {
  GraphLockHolder lock;
  if (InitBarrier* lower = graph_->LowerPriorityBarrier(priority_)) {
    plugin->AddDependency(lower);
  }
  AddDependency(plugin);
}

}  // namespace bootcrank
