// The dependency graph of a boot record as SVG, laid out in columns: a
// node's column is the length of the longest chain of dependencies below
// it, so every edge runs from left to right. Plugins are boxes coloured by
// kind (failed ones red, ones that did not run hollow), barriers grey
// rounded boxes; the critical chain's nodes and edges are drawn in orange.
#ifndef BOOTCRANK_ANALYZE_GRAPH_SVG_H_
#define BOOTCRANK_ANALYZE_GRAPH_SVG_H_

#include <string>

#include "analyze/critical_chain.h"

namespace bootcrank {
namespace analyze {

// `chain` may be null. Nodes carry data-node="<index>" for the report.
std::string RenderGraphSvg(const BootGraph& graph, const CriticalChain* chain);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_GRAPH_SVG_H_
