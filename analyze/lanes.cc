#include "analyze/lanes.h"

#include <algorithm>

namespace bootcrank {
namespace analyze {

std::vector<size_t> RanByStart(const BootRecord& record) {
  std::vector<size_t> order;
  for (size_t i = 0; i < record.nodes.size(); ++i)
    if (record.nodes[i].Ran()) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return record.nodes[a].started < record.nodes[b].started;
  });
  return order;
}

Lanes AssignLanes(const BootRecord& record) {
  Lanes lanes;
  lanes.lane.assign(record.nodes.size(), -1);
  bool recorded = false;
  for (const RecordNode& n : record.nodes)
    if (n.Ran() && n.worker >= 0) recorded = true;
  if (recorded) {
    for (size_t i = 0; i < record.nodes.size(); ++i) {
      if (!record.nodes[i].Ran()) continue;
      lanes.lane[i] = std::max(record.nodes[i].worker, 0);
      lanes.count = std::max(lanes.count, lanes.lane[i] + 1);
    }
    lanes.count = std::max(lanes.count, record.workers);
    return lanes;
  }
  lanes.inferred = true;
  std::vector<Micros> freeAt;  // per lane: when its last node ended
  for (size_t i : RanByStart(record)) {
    const RecordNode& n = record.nodes[i];
    size_t lane = 0;
    while (lane < freeAt.size() && freeAt[lane] > n.started) ++lane;
    if (lane == freeAt.size()) freeAt.push_back(0);
    freeAt[lane] = n.ended;
    lanes.lane[i] = static_cast<int>(lane);
  }
  lanes.count = static_cast<int>(freeAt.size());
  return lanes;
}

}  // namespace analyze
}  // namespace bootcrank
