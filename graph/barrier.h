// Barriers: the named synchronisation points of the dependency graph, and the
// process-wide registry that names them.
//
// An InitBarrier is created on first mention by a plugin that requires or
// provides its name; it runs once every provider has finished and, when
// nobody provides it, reports that as a dependency error. PriorityBarriers
// chain init-script daemons by their numeric start priority: every daemon of
// priority P starts after every daemon of a lower priority has finished.
//
// Thread-safety: the registry and the priority levels are guarded by
// GraphLock; every function below takes it.
#ifndef BOOTCRANK_GRAPH_BARRIER_H_
#define BOOTCRANK_GRAPH_BARRIER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "graph/node.h"

namespace bootcrank {

class Plugin;

class InitBarrier : public Node {
 public:
  explicit InitBarrier(const std::string& name);

  // The provider check: with no dependency (no provider), raises a system
  // alert (not in invoke runs) and logs at level 115 which plugins require it.
  void Activate(Executor* executor) override;
  std::string DotAttributes() const override;  // " shape=box"

  // The dependency-error text for this barrier and its current dependents.
  // REQUIRES: GraphLock held.
  std::string MissingProviderMessage() const;
};

class PriorityBarrier : public InitBarrier {
 public:
  // Name of the barrier of `priority`: "_<->_priority_<->_" + decimal.
  static std::string NameFor(uint32_t priority);

  // Inserts the priority into the levels, links the new barrier between the
  // barriers of the neighbouring levels and registers it.
  explicit PriorityBarrier(uint32_t priority);

  void Activate(Executor* executor) override;  // nothing to check
  std::string DotAttributes() const override;  // " shape=trapezium"

  // Links an init-script daemon plugin of this barrier's priority into the
  // chain: it depends on the barrier of the next lower level (if any), and
  // this barrier depends on it. REQUIRES: GraphLock held.
  void AddToPriorityChain(Plugin* plugin);

  uint32_t Priority() const { return priority_; }

 private:
  int32_t index_ = -1;  // GUARDED_BY(GraphLock): position in the levels
  uint32_t priority_;
};

// The barrier of `name`; when none is registered, a new InitBarrier when
// `create` is set, else null.
InitBarrier* GetBarrier(const std::string& name, bool create);
// Registers `barrier` under `name`, replacing an earlier entry.
void RegisterBarrier(InitBarrier* barrier, const std::string& name);
// A copy of the registry's barriers in byte-wise name order.
std::vector<InitBarrier*> AllBarriers();
// The priority barrier of `priority`, created (and chained) when missing.
PriorityBarrier* GetPriorityBarrier(uint32_t priority);
// The ascending priority values that have a barrier.
std::vector<uint32_t> PriorityLevels();

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_BARRIER_H_
