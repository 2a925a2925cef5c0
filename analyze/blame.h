// The order of the blame table, shared by `blame` and `report`.
#ifndef BOOTCRANK_ANALYZE_BLAME_H_
#define BOOTCRANK_ANALYZE_BLAME_H_

#include <vector>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

// The record's plugins: those that ran by duration, longest first (ties in
// run-list order), then those that did not run, in run-list order.
std::vector<const RecordNode*> BlameOrder(const BootRecord& record);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_BLAME_H_
