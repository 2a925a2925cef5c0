// BootGraph: a record's plugins and barriers as a graph of indices.
//
// A name in "after" may belong to a plugin and to a barrier at once (a
// plugin "network" providing the barrier "network"). bootcrank links a
// plugin only to barriers and a barrier only to plugins (or, for priority
// barriers, to the next lower priority barrier), so a plugin's entry is
// looked up among the barriers first and a barrier's among the plugins
// first. Entries that name no node are kept in Unresolved() and left out.
//
// The record must outlive the graph. Not thread-safe; nothing is shared.
#ifndef BOOTCRANK_ANALYZE_BOOT_GRAPH_H_
#define BOOTCRANK_ANALYZE_BOOT_GRAPH_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

constexpr size_t kNoNode = static_cast<size_t>(-1);

class BootGraph {
 public:
  explicit BootGraph(const BootRecord& record);

  const BootRecord& Record() const { return record_; }
  size_t Size() const { return record_.nodes.size(); }
  const RecordNode& Node(size_t i) const { return record_.nodes[i]; }
  // The nodes `i` waits for, in "after" order.
  const std::vector<size_t>& Dependencies(size_t i) const { return dependencies_[i]; }
  // The nodes that wait for `i`, in record order.
  const std::vector<size_t>& Dependents(size_t i) const { return dependents_[i]; }
  // The length of the longest chain of dependents above `i` (the executor's
  // scheduling depth of a start run). An edge that would close a cycle
  // counts as absent.
  int32_t DependentDepth(size_t i) const { return depth_[i]; }
  // The plugin of that name, else the barrier; kNoNode when neither exists.
  size_t FindNode(const std::string& name) const;
  // "node -> name" for each "after" entry that names no node.
  const std::vector<std::string>& Unresolved() const { return unresolved_; }
  // The earliest ready (or, lacking those, started) time of any node: when
  // the run began to schedule; kNoTime when nothing ran.
  Micros RunStart() const;
  // The latest ended time of any node; kNoTime when nothing ran.
  Micros RunEnd() const;

 private:
  void ComputeDepths();

  const BootRecord& record_;
  std::vector<std::vector<size_t>> dependencies_, dependents_;
  std::vector<int32_t> depth_;
  std::unordered_map<std::string, size_t> plugins_, barriers_;
  std::vector<std::string> unresolved_;
};

// The time that offsets of a report count from: the record's start, else
// the graph's run start, else 0.
Micros Origin(const BootGraph& graph);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_BOOT_GRAPH_H_
