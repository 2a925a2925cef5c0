#include "analyze/boot_graph.h"

#include <algorithm>

namespace bootcrank {
namespace analyze {

BootGraph::BootGraph(const BootRecord& record)
    : record_(record), dependencies_(record.nodes.size()), dependents_(record.nodes.size()) {
  for (size_t i = 0; i < record.nodes.size(); ++i) {
    auto& index = record.nodes[i].barrier ? barriers_ : plugins_;
    index.emplace(record.nodes[i].name, i);  // the first of a duplicated name wins
  }
  for (size_t i = 0; i < record.nodes.size(); ++i) {
    const RecordNode& node = record.nodes[i];
    const auto& first = node.barrier ? plugins_ : barriers_;
    const auto& second = node.barrier ? barriers_ : plugins_;
    for (const std::string& name : node.after) {
      auto it = first.find(name);
      if (it == first.end()) it = second.find(name);
      if (it == second.end() || it->second == i) {
        unresolved_.push_back(node.name + " -> " + name);
        continue;
      }
      dependencies_[i].push_back(it->second);
      dependents_[it->second].push_back(i);
    }
  }
  ComputeDepths();
}

size_t BootGraph::FindNode(const std::string& name) const {
  auto it = plugins_.find(name);
  if (it != plugins_.end()) return it->second;
  it = barriers_.find(name);
  return it != barriers_.end() ? it->second : kNoNode;
}

void BootGraph::ComputeDepths() {
  // Iterative depth-first walk over dependents: a chain of 100,000 nodes
  // must not exhaust the stack. A dependent still on the walk's path closes
  // a cycle and is skipped.
  enum : int8_t { kNew, kOnPath, kDone };
  std::vector<int8_t> state(Size(), kNew);
  depth_.assign(Size(), 0);
  std::vector<std::pair<size_t, size_t>> stack;  // node, next dependent
  for (size_t root = 0; root < Size(); ++root) {
    if (state[root] != kNew) continue;
    stack.push_back({root, 0});
    state[root] = kOnPath;
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      const auto& up = dependents_[node];
      if (next < up.size()) {
        size_t d = up[next++];
        if (state[d] == kNew) {
          state[d] = kOnPath;
          stack.push_back({d, 0});
        }
        continue;
      }
      int32_t depth = 0;
      for (size_t d : up)
        if (state[d] == kDone) depth = std::max(depth, depth_[d] + 1);
      depth_[node] = depth;
      state[node] = kDone;
      stack.pop_back();
    }
  }
}

Micros BootGraph::RunStart() const {
  Micros start = kNoTime;
  for (const RecordNode& n : record_.nodes) {
    Micros t = n.ready != kNoTime ? n.ready : n.started;
    if (t != kNoTime && (start == kNoTime || t < start)) start = t;
  }
  return start;
}

Micros BootGraph::RunEnd() const {
  Micros end = kNoTime;
  for (const RecordNode& n : record_.nodes)
    if (n.ended != kNoTime && (end == kNoTime || n.ended > end)) end = n.ended;
  return end;
}

Micros Origin(const BootGraph& graph) {
  if (graph.Record().start != kNoTime) return graph.Record().start;
  Micros start = graph.RunStart();
  return start != kNoTime ? start : 0;
}

}  // namespace analyze
}  // namespace bootcrank
