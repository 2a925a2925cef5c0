// The critical chain as a table and as JSON, for every command that shows
// one (critical-chain, what-if, diff, report).
#ifndef BOOTCRANK_ANALYZE_CHAIN_VIEW_H_
#define BOOTCRANK_ANALYZE_CHAIN_VIEW_H_

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analyze/critical_chain.h"

namespace bootcrank {
namespace analyze {

// One row per link: offsets from Origin(graph), the three waits, the run.
// The first row is the time before the run (discovery), the last the time
// after it up to the record's end, when the chain leads to the boot's end.
void PrintChain(const BootGraph& graph, const CriticalChain& chain, std::ostream& out, bool colour);

// {"target", "run_start", "end", "links": [{"name", "kind", "barrier",
// "ready", "started", "ended", "dependency_wait", "worker_wait", "run"}]},
// times as offsets from Origin(graph) in microseconds.
nlohmann::json ChainJson(const BootGraph& graph, const CriticalChain& chain);

// The names along the chain, first link first.
std::vector<std::string> ChainNames(const BootGraph& graph, const CriticalChain& chain);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_CHAIN_VIEW_H_
