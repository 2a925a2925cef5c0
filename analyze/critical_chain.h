// The critical chain: the plugins and barriers whose ends, one after the
// other, set the end of the boot (or the start of one plugin).
//
// Walking back from the target, each link's predecessor is the dependency
// that ended last: the one whose end made the link ready. Each link splits
// the time from its predecessor's end to its own end into three parts that
// a parallel boot must not mix up:
//   dependency wait  ready - predecessor's end (for the first link: ready -
//                    the run's start), the time until its last dependency
//                    released it;
//   worker wait      started - ready, queued while every worker was busy;
//   run              ended - started.
// The parts add up: the run's start plus every link's three parts is the
// last link's end.
#ifndef BOOTCRANK_ANALYZE_CRITICAL_CHAIN_H_
#define BOOTCRANK_ANALYZE_CRITICAL_CHAIN_H_

#include <cstddef>
#include <vector>

#include "analyze/boot_graph.h"

namespace bootcrank {
namespace analyze {

struct ChainLink {
  size_t node;
  Micros dependencyWait, workerWait, run;
};

struct CriticalChain {
  size_t target = kNoNode;  // the node the chain leads to, kNoNode when nothing ran
  Micros runStart = kNoTime;
  std::vector<ChainLink> links;  // first link first; the target is the last
};

// The chain to the node that ended last. Needs ready times: the caller
// checks BootRecord::HasGraph().
CriticalChain ChainToEnd(const BootGraph& graph);

// The chain that set the start of `target`, `target` itself being the last
// link. A target that never ran gives an empty chain.
CriticalChain ChainTo(const BootGraph& graph, size_t target);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_CRITICAL_CHAIN_H_
