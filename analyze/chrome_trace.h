// The run in the Chrome trace-event format (the JSON object form), which
// trace viewers (chrome://tracing, Perfetto) open: one process for the
// boot, one thread track per worker ("worker 0", ...; "lane N" when the
// source names no workers), a complete event ("ph": "X") per node that ran,
// with its kind, result, ready time and worker wait in "args", and the
// kernel's time before bootcrank on a track of its own when the uptime is
// known. Timestamps are microseconds from the kernel's start (the uptime
// before bootcrank started), else from bootcrank's start.
#ifndef BOOTCRANK_ANALYZE_CHROME_TRACE_H_
#define BOOTCRANK_ANALYZE_CHROME_TRACE_H_

#include <nlohmann/json.hpp>

#include "analyze/boot_graph.h"

namespace bootcrank {
namespace analyze {

nlohmann::json ChromeTrace(const BootGraph& graph);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_CHROME_TRACE_H_
