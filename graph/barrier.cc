#include "graph/barrier.h"

#include <algorithm>
#include <map>

#include "graph/graph_lock.h"
#include "host/host_control.h"
#include "host/log.h"
#include "plugins/plugin.h"
#include "runcontrol/settings.h"

namespace bootcrank {

namespace {

// Process-wide graph state; GUARDED_BY(GraphLock). Never destroyed: barriers
// live until the process ends and workers may still read them at exit.
std::map<std::string, InitBarrier*>& Registry() {
  static auto* registry = new std::map<std::string, InitBarrier*>();
  return *registry;
}

std::vector<uint32_t>& Levels() {
  static auto* levels = new std::vector<uint32_t>();
  return *levels;
}

}  // namespace

InitBarrier::InitBarrier(const std::string& name) : Node(name, 1) {}

std::string InitBarrier::DotAttributes() const { return " shape=box"; }

std::string InitBarrier::MissingProviderMessage() const {
  std::string text = "Bootcrank dependency error: Initialization barrier \"" +
                     Name() +
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

PriorityBarrier::PriorityBarrier(uint32_t priority)
    : InitBarrier(NameFor(priority)), priority_(priority) {
  GraphLockHolder lock;
  std::vector<uint32_t>& levels = Levels();
  // Directly after the last value smaller than the new one.
  auto at = std::lower_bound(levels.begin(), levels.end(), priority);
  size_t pos = static_cast<size_t>(at - levels.begin());
  levels.insert(at, priority);

  if (pos > 0) {
    AddDependency(GetBarrier(NameFor(levels[pos - 1]), false));
  }
  if (pos + 1 < levels.size()) {
    // The next higher level's plugins now wait for this level too, and so
    // does its barrier. Their edges to the lower barrier stay.
    InitBarrier* higher = GetBarrier(NameFor(levels[pos + 1]), false);
    std::vector<Node*> members = higher->Dependencies();
    for (Node* member : members) {
      if (dynamic_cast<Plugin*>(member) != nullptr) AddDependent(member);
    }
    AddDependent(higher);
  }
  RegisterBarrier(this, Name());
  index_ = static_cast<int32_t>(pos);
}

void PriorityBarrier::Activate(Executor*) {}

std::string PriorityBarrier::DotAttributes() const { return " shape=trapezium"; }

void PriorityBarrier::AddToPriorityChain(Plugin* plugin) {
  GraphLockHolder lock;
  const std::vector<uint32_t>& levels = Levels();
  size_t i;
  if (index_ >= 0 && static_cast<size_t>(index_) < levels.size() &&
      levels[index_] == priority_) {
    i = static_cast<size_t>(index_);
  } else {
    i = static_cast<size_t>(std::find(levels.begin(), levels.end(), priority_) -
                            levels.begin());
    index_ = static_cast<int32_t>(i);
  }
  if (i > 0) {
    plugin->AddDependency(GetBarrier(NameFor(levels[i - 1]), false));
  }
  AddDependency(plugin);
}

InitBarrier* GetBarrier(const std::string& name, bool create) {
  GraphLockHolder lock;
  auto it = Registry().find(name);
  if (it != Registry().end()) return it->second;
  if (!create) return nullptr;
  auto* barrier = new InitBarrier(name);
  Registry()[name] = barrier;
  return barrier;
}

void RegisterBarrier(InitBarrier* barrier, const std::string& name) {
  GraphLockHolder lock;
  Registry()[name] = barrier;
}

std::vector<InitBarrier*> AllBarriers() {
  GraphLockHolder lock;
  std::vector<InitBarrier*> all;
  all.reserve(Registry().size());
  for (const auto& entry : Registry()) all.push_back(entry.second);
  return all;
}

PriorityBarrier* GetPriorityBarrier(uint32_t priority) {
  GraphLockHolder lock;
  auto* existing =
      dynamic_cast<PriorityBarrier*>(GetBarrier(PriorityBarrier::NameFor(priority), false));
  if (existing != nullptr) return existing;
  return new PriorityBarrier(priority);
}

std::vector<uint32_t> PriorityLevels() {
  GraphLockHolder lock;
  return Levels();
}

}  // namespace bootcrank
