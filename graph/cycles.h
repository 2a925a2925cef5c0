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

#include "plugins/plugin.h"

namespace bootcrank {

// Searches every node connected to the run list or to a registered barrier.
// For each cycle found, raises the system alert and logs at level 115
//   Bootcrank dependency error: dependency cycle "a" -> "b" -> "a" ...
// (each node depends on the next) and removes the dependency of the last
// node of the chain on the first, until no cycle is left. Iterative and
// linear in nodes plus edges (plus the length of the reported cycles).
void BreakDependencyCycles(const RunList& runList);

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_CYCLES_H_
