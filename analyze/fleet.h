// Fleet statistics: per plugin, over many hosts' boot records, the median,
// 95th percentile and worst duration, the failure rate and how often the
// plugin lies on the critical chain.
//
// Records are read one at a time and dropped once counted, so memory grows
// with the number of plugins times the number of records only by one
// duration each: the quantiles are exact (nearest rank), which needs every
// duration of a plugin but no record.
//
// Thread-safety: a FleetStats is used by one thread; ReadFleet gives each
// of its threads its own and merges them.
#ifndef BOOTCRANK_ANALYZE_FLEET_H_
#define BOOTCRANK_ANALYZE_FLEET_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

struct PluginSummary {
  std::string name;
  uint64_t records = 0;    // records that list the plugin
  uint64_t runs = 0;       // ... in which it ran
  uint64_t failures = 0;   // ... in which it failed
  uint64_t chained = 0;    // ... in which it lies on the critical chain
  uint64_t chainable = 0;  // ... that are boot records (a profiling log has no chain)
  Micros median = kNoTime, p95 = kNoTime, worst = kNoTime;  // over its runs
};

class FleetStats {
 public:
  // Counts one record.
  void Add(const BootRecord& record);
  // Adds `other`'s counts and durations to this one's.
  void Merge(FleetStats&& other);
  uint64_t Records() const { return records_; }
  // One summary per plugin, by median duration, longest first (ties by name).
  std::vector<PluginSummary> Summaries() const;

 private:
  struct Counts {
    std::vector<Micros> durations;
    uint64_t records = 0, failures = 0, chained = 0, chainable = 0;
  };
  std::unordered_map<std::string, Counts> plugins_;
  uint64_t records_ = 0;
};

// The value of nearest rank `percent` (0 < percent <= 100) in `values`,
// which it reorders; kNoTime when empty.
Micros NearestRank(std::vector<Micros>& values, double percent);

struct FleetResult {
  FleetStats stats;
  std::vector<std::string> errors;  // one message per file that could not be read, in file order
};

// Reads `files` on `threads` threads (at least 1), each file once.
FleetResult ReadFleet(const std::vector<std::string>& files, int threads);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_FLEET_H_
