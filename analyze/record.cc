#include "analyze/record.h"

#include <algorithm>

namespace bootcrank {
namespace analyze {

std::string BootRecord::Missing() const {
  if (source == Source::kRecord) return "";
  return "dependencies, barriers, ready times, workers, plugin kinds and results";
}

int BootRecord::WorkerCount() const {
  if (workers > 0) return workers;
  int highest = -1;
  for (const RecordNode& n : nodes) highest = std::max(highest, n.worker);
  return highest >= 0 ? highest + 1 : 1;
}

const RecordNode* BootRecord::FindPlugin(const std::string& name) const {
  for (const RecordNode& n : nodes)
    if (!n.barrier && n.name == name) return &n;
  return nullptr;
}

}  // namespace analyze
}  // namespace bootcrank
