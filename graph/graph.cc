#include "graph/graph.h"

#include <algorithm>

#include "graph/barrier.h"
#include "graph/node.h"

namespace bootcrank {

Graph::Graph() = default;

Graph::~Graph() {
  GraphLockHolder lock;
  // Dependents before what they depend on is not needed: nodes only point at
  // each other, and all of them go together.
  barriers_.clear();
  nodes_.clear();
}

void Graph::Adopt(std::unique_ptr<Node> node) {
  GraphLockHolder lock;
  nodes_.push_back(std::move(node));
}

size_t Graph::NodeCount() const {
  GraphLockHolder lock;
  return nodes_.size();
}

std::vector<Node*> Graph::Nodes() const {
  GraphLockHolder lock;
  std::vector<Node*> nodes;
  nodes.reserve(nodes_.size());
  for (const std::unique_ptr<Node>& node : nodes_) nodes.push_back(node.get());
  return nodes;
}

InitBarrier* Graph::GetBarrier(const std::string& name, bool create) {
  GraphLockHolder lock;
  auto it = barriers_.find(name);
  if (it != barriers_.end()) return it->second;
  if (!create) return nullptr;
  InitBarrier* barrier = Add(std::make_unique<InitBarrier>(name));
  barriers_[name] = barrier;
  return barrier;
}

void Graph::RegisterBarrier(InitBarrier* barrier, const std::string& name) {
  GraphLockHolder lock;
  barriers_[name] = barrier;
}

std::vector<InitBarrier*> Graph::AllBarriers() const {
  GraphLockHolder lock;
  std::vector<InitBarrier*> all;
  all.reserve(barriers_.size());
  for (const auto& entry : barriers_) all.push_back(entry.second);
  return all;
}

std::vector<uint32_t> Graph::PriorityLevels() const {
  GraphLockHolder lock;
  return levels_;
}

InitBarrier* Graph::LowerPriorityBarrier(uint32_t priority) const {
  GraphLockHolder lock;
  auto at = std::lower_bound(levels_.begin(), levels_.end(), priority);
  if (at == levels_.begin()) return nullptr;
  auto found = barriers_.find(PriorityBarrier::NameFor(*(at - 1)));
  return found == barriers_.end() ? nullptr : found->second;
}

PriorityBarrier* Graph::GetPriorityBarrier(uint32_t priority) {
  GraphLockHolder lock;
  const std::string name = PriorityBarrier::NameFor(priority);
  auto existing = barriers_.find(name);
  if (existing != barriers_.end()) {
    if (auto* barrier = dynamic_cast<PriorityBarrier*>(existing->second)) return barrier;
  }
  auto* barrier = Add(std::make_unique<PriorityBarrier>(this, priority));

  // Directly after the last value smaller than the new one.
  auto at = std::lower_bound(levels_.begin(), levels_.end(), priority);
  size_t pos = static_cast<size_t>(at - levels_.begin());
  levels_.insert(at, priority);
  if (pos > 0) {
    barrier->AddDependency(barriers_.at(PriorityBarrier::NameFor(levels_[pos - 1])));
  }
  if (pos + 1 < levels_.size()) {
    // The next higher level's plugins now wait for this level too, and so
    // does its barrier. Their edges to the lower barrier stay. A higher
    // barrier's dependencies are its level's plugins and the barrier below.
    InitBarrier* higher = barriers_.at(PriorityBarrier::NameFor(levels_[pos + 1]));
    std::vector<Node*> members = higher->Dependencies();
    for (Node* member : members) {
      if (dynamic_cast<InitBarrier*>(member) == nullptr) barrier->AddDependent(member);
    }
    barrier->AddDependent(higher);
  }
  barriers_[name] = barrier;
  return barrier;
}

}  // namespace bootcrank
