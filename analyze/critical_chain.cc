#include "analyze/critical_chain.h"

#include <algorithm>

namespace bootcrank {
namespace analyze {

CriticalChain ChainTo(const BootGraph& graph, size_t target) {
  CriticalChain chain;
  chain.target = target;
  chain.runStart = graph.RunStart();
  if (target == kNoNode || !graph.Node(target).Ran()) return chain;
  std::vector<size_t> path;
  std::vector<bool> seen(graph.Size(), false);
  for (size_t node = target; node != kNoNode && !seen[node];) {
    seen[node] = true;
    path.push_back(node);
    size_t previous = kNoNode;
    for (size_t d : graph.Dependencies(node)) {
      const RecordNode& dep = graph.Node(d);
      if (dep.Ran() && (previous == kNoNode || dep.ended > graph.Node(previous).ended))
        previous = d;
    }
    node = previous;
  }
  std::reverse(path.begin(), path.end());
  Micros previousEnd = chain.runStart;
  for (size_t node : path) {
    const RecordNode& n = graph.Node(node);
    Micros ready = n.ready != kNoTime ? n.ready : n.started;
    chain.links.push_back({node, ready - previousEnd, n.started - ready, n.ended - n.started});
    previousEnd = n.ended;
  }
  return chain;
}

CriticalChain ChainToEnd(const BootGraph& graph) {
  size_t last = kNoNode;
  for (size_t i = 0; i < graph.Size(); ++i) {
    const RecordNode& n = graph.Node(i);
    if (n.Ran() && (last == kNoNode || n.ended > graph.Node(last).ended)) last = i;
  }
  return ChainTo(graph, last);
}

}  // namespace analyze
}  // namespace bootcrank
