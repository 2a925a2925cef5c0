// Barriers: the named synchronisation points of the dependency graph. The
// Graph that owns them also names them (its barrier registry).
//
// An InitBarrier is created on first mention by a plugin that requires or
// provides its name; it runs once every provider has finished and, when
// nobody provides it, reports that as a dependency error. PriorityBarriers
// chain init-script daemons by their numeric start priority: every daemon of
// priority P starts after every daemon of a lower priority has finished.
//
// Thread-safety: every function below takes GraphLock unless it says that it
// requires it held.
#ifndef BOOTCRANK_GRAPH_BARRIER_H_
#define BOOTCRANK_GRAPH_BARRIER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "graph/node.h"

namespace bootcrank {

class Graph;

class InitBarrier : public Node {
 public:
  explicit InitBarrier(const std::string& name);

  // The provider check: with no dependency (no provider), raises a system
  // alert (not in invoke runs) and logs at level 115 which plugins require it.
  void Activate(Executor* executor) override;
  std::string DotAttributes() const override;  // " shape=box"

  // The dependency-error text for this barrier and its current dependents.
  std::string MissingProviderMessage() const REQUIRES(graphLock);
};

class PriorityBarrier : public InitBarrier {
 public:
  // Name of the barrier of `priority`: "_<->_priority_<->_" + decimal.
  static std::string NameFor(uint32_t priority);

  // A barrier of `graph`; only Graph::GetPriorityBarrier makes them, and
  // links them into the levels.
  PriorityBarrier(Graph* graph, uint32_t priority);

  void Activate(Executor* executor) override;  // nothing to check
  std::string DotAttributes() const override;  // " shape=trapezium"

  // Links an init-script daemon plugin of this barrier's priority into the
  // chain: it depends on the barrier of the next lower level (if any), and
  // this barrier depends on it.
  void AddToPriorityChain(Node* plugin);

  uint32_t Priority() const { return priority_; }

 private:
  Graph* graph_;  // the owner, which keeps the levels
  uint32_t priority_;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_BARRIER_H_
