// The boot report: one self-contained HTML page (no network, no file
// besides itself) with the run's facts, the timeline (details of a node on
// hover), the blame table, the critical chain, the dependency graph and the
// problems the run recorded (load failures, cycles, missing barriers).
// Styles and the small script that shows details are inline.
#ifndef BOOTCRANK_ANALYZE_HTML_REPORT_H_
#define BOOTCRANK_ANALYZE_HTML_REPORT_H_

#include <string>

#include "analyze/boot_graph.h"

namespace bootcrank {
namespace analyze {

std::string RenderHtmlReport(const BootGraph& graph);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_HTML_REPORT_H_
