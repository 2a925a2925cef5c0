// The boot's timeline as an SVG picture that any browser or image viewer
// shows on its own: one row per plugin and barrier by start time, the time
// each waited for a worker, bars coloured by plugin kind and failures in
// red, barriers as diamonds, the kernel's share of the boot from the
// uptime, the worker lanes, and a legend. Every element carries a <title>
// with its details, which viewers show on hover.
#ifndef BOOTCRANK_ANALYZE_SVG_PLOT_H_
#define BOOTCRANK_ANALYZE_SVG_PLOT_H_

#include <string>

#include "analyze/critical_chain.h"

namespace bootcrank {
namespace analyze {

struct PlotOptions {
  const CriticalChain* chain = nullptr;  // its links are outlined, when given
  // For the HTML report: no XML declaration, and data-node="<index>" on
  // every node's group so that the page's script can find it.
  bool embedded = false;
};

std::string RenderTimelineSvg(const BootGraph& graph, const PlotOptions& options);

// `text` with &, <, >, " and ' escaped for XML and HTML.
std::string XmlEscape(const std::string& text);

// The fill colour of a plugin of `kind` ("json", ...; "" when unknown).
const char* KindColour(const std::string& kind);
constexpr const char* kFailedColour = "#d62728";
constexpr const char* kChainColour = "#ff7f0e";

// A node's details, one item a line: kind, result, error, times.
std::string NodeDetails(const BootGraph& graph, size_t node);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_SVG_PLOT_H_
