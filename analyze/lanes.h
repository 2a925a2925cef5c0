// Which lane (worker) each node of a timeline ran on.
//
// A boot record names each node's worker. A profiling log does not: its
// plugins are then packed greedily into as few lanes as their overlaps
// need (the earliest-started first, each into the lowest free lane), which
// is a lower bound on the workers the run used, not a record of them.
#ifndef BOOTCRANK_ANALYZE_LANES_H_
#define BOOTCRANK_ANALYZE_LANES_H_

#include <vector>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

struct Lanes {
  std::vector<int> lane;  // per node of the record; -1 for nodes that did not run
  int count = 0;
  bool inferred = false;  // packed from the times, not recorded
};

Lanes AssignLanes(const BootRecord& record);

// The indices of the nodes that ran, by start time (ties in record order).
std::vector<size_t> RanByStart(const BootRecord& record);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_LANES_H_
