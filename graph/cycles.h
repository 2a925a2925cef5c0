// Breaking dependency cycles before a run.
//
// Nodes on a cycle of declared dependencies would never become ready, and
// every wait for them would hang. BreakDependencyCycles finds the cycles of
// the graph around a run list once, before anything runs, reports each as a
// dependency error and drops one edge of it, so that the run reaches every
// node.
//
// Thread-safety: takes GraphLock for the whole search; call it before the
// executor's workers start.
#ifndef BOOTCRANK_GRAPH_CYCLES_H_
#define BOOTCRANK_GRAPH_CYCLES_H_

#include <string>
#include <vector>

namespace bootcrank {

class Graph;
class Node;

// Searches every node connected to `runList` (the plugins of a run, in
// order) or to a barrier registered in `graph`.
// For each cycle found, raises the system alert and logs at level 115
//   Bootcrank dependency error: dependency cycle "a" -> "x" -> "b" -> "a"
//   (each node depends on the next); dropping the dependency of "a" on "x"
// and removes that one edge: a plugin's requirement of a barrier when the
// cycle has one (so no barrier loses a provider), else the edge that closed
// the cycle. A report names the first ten nodes of a longer cycle, then
// "... and N more" (with a real ellipsis); after a hundred reports the rest
// are only counted, and one more report states the total, so the output
// stays linear in the graph. Afterwards the graph is acyclic. Iterative, and linear in nodes
// plus edges when there are no cycles.
// Returns what it reported, one entry per reported cycle; `cycleCount`, when
// given, receives how many cycles were found (reported or only counted).
struct CycleReport {
  std::vector<std::string> nodes;  // the first ten of the cycle, in order
  size_t length = 0;               // how many nodes the cycle has
  std::string droppedFrom;         // the node that lost a dependency ...
  std::string droppedTo;           // ... on this one
};
std::vector<CycleReport> BreakDependencyCycles(const Graph& graph,
                                               const std::vector<Node*>& runList,
                                               size_t* cycleCount = nullptr);

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_CYCLES_H_
