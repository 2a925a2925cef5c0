// Replay: the boot run again on paper under the executor's own rules, with
// the measured durations, another worker count or other durations.
//
// The walk and the pick follow the executor: every plugin of the run list,
// in order, is walked towards its dependencies, and a node whose
// dependencies have all ended joins the ready queue; a free worker takes
// the most urgent ready node (lowest execution class, then greatest
// dependent depth, then earliest queued). A node runs for its measured
// duration (ended - started) unless overridden, plus the dispatch cost.
// Nodes that did not run in the record (skipped plugins) count as ended
// from the start, as the executor counts them.
//
// The dispatch cost is the executor's own time per node that no duration
// shows (waking a worker, publishing a completion). The record gives it:
// for every node that was taken at once (its worker was idle), the time
// from the end of its last dependency to its start; the replay uses the
// median of those, unless told otherwise.
#ifndef BOOTCRANK_ANALYZE_REPLAY_H_
#define BOOTCRANK_ANALYZE_REPLAY_H_

#include <map>
#include <string>
#include <vector>

#include "analyze/boot_graph.h"

namespace bootcrank {
namespace analyze {

struct ReplayOptions {
  int workers = 0;                          // 0: the record's worker count
  std::map<std::string, Micros> durations;  // plugin name -> run time
  Micros dispatchCost = kNoTime;            // kNoTime: measured (MeasuredDispatchCost)
};

struct ReplayResult {
  // The record with ready, started, ended and worker of every node that
  // ran replaced by the replay's, and end moved by the predicted change.
  BootRecord predicted;
  Micros dispatchCost = 0;
  // Nodes that never became ready: the record's edges close a cycle.
  std::vector<std::string> neverReady;
};

// The median time from a node's last dependency's end (or the run's start)
// to its start, over nodes whose worker was idle; 0 without such nodes.
Micros MeasuredDispatchCost(const BootGraph& graph);

// Throws std::invalid_argument naming an override for a plugin that the
// record does not hold, or a worker count below 1.
ReplayResult Replay(const BootGraph& graph, const ReplayOptions& options);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_REPLAY_H_
