#include "analyze/graph_svg.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "analyze/svg_plot.h"

namespace bootcrank {
namespace analyze {

namespace {

const int kBoxWidth = 150, kBoxHeight = 20, kColumnGap = 60, kRowGap = 8, kMargin = 10;

std::string Number(double v) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// The longest chain of dependencies below each node, edges that close a
// cycle left out (Kahn's order: a node in a cycle keeps column 0).
std::vector<int> Columns(const BootGraph& graph) {
  std::vector<int> column(graph.Size(), 0);
  std::vector<size_t> waiting(graph.Size());
  std::vector<size_t> order;
  for (size_t i = 0; i < graph.Size(); ++i) {
    waiting[i] = graph.Dependencies(i).size();
    if (waiting[i] == 0) order.push_back(i);
  }
  for (size_t k = 0; k < order.size(); ++k)
    for (size_t d : graph.Dependents(order[k])) {
      column[d] = std::max(column[d], column[order[k]] + 1);
      if (--waiting[d] == 0) order.push_back(d);
    }
  return column;
}

std::string Shorten(const std::string& name) {
  return name.size() <= 22 ? name : name.substr(0, 21) + "\u2026";
}

}  // namespace

std::string RenderGraphSvg(const BootGraph& graph, const CriticalChain* chain) {
  std::vector<int> column = Columns(graph);
  int columns = 0;
  for (int c : column) columns = std::max(columns, c + 1);
  std::vector<int> row(graph.Size(), 0), rowsIn(std::max(columns, 1), 0);
  for (size_t i = 0; i < graph.Size(); ++i) row[i] = rowsIn[column[i]]++;
  int rows = *std::max_element(rowsIn.begin(), rowsIn.end());
  int width = 2 * kMargin + columns * kBoxWidth + std::max(columns - 1, 0) * kColumnGap;
  int height = 2 * kMargin + rows * (kBoxHeight + kRowGap);
  auto left = [&](size_t i) { return kMargin + column[i] * (kBoxWidth + kColumnGap); };
  auto top = [&](size_t i) { return kMargin + row[i] * (kBoxHeight + kRowGap); };

  std::vector<bool> onChain(graph.Size(), false);
  std::vector<size_t> next(graph.Size(), kNoNode);  // the chain's following link
  if (chain != nullptr)
    for (size_t k = 0; k < chain->links.size(); ++k) {
      onChain[chain->links[k].node] = true;
      if (k + 1 < chain->links.size()) next[chain->links[k].node] = chain->links[k + 1].node;
    }

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << std::max(width, 100)
      << "\" height=\"" << std::max(height, 40)
      << "\" font-family=\"sans-serif\" font-size=\"11\">\n<g fill=\"none\">\n";
  for (size_t i = 0; i < graph.Size(); ++i)
    for (size_t d : graph.Dependencies(i)) {
      double x1 = left(d) + kBoxWidth, y1 = top(d) + kBoxHeight / 2.0;
      double x2 = left(i), y2 = top(i) + kBoxHeight / 2.0;
      bool critical = next[d] == i;
      double bend = std::max((x2 - x1) / 2, 20.0);
      svg << "<path d=\"M" << Number(x1) << "," << Number(y1) << " C" << Number(x1 + bend) << ","
          << Number(y1) << " " << Number(x2 - bend) << "," << Number(y2) << " " << Number(x2) << ","
          << Number(y2) << "\" stroke=\"" << (critical ? kChainColour : "#b0b0b0")
          << "\" stroke-width=\"" << (critical ? 2.5 : 1) << "\"/>\n";
    }
  svg << "</g>\n";
  for (size_t i = 0; i < graph.Size(); ++i) {
    const RecordNode& n = graph.Node(i);
    std::string fill = n.barrier              ? "#e8e8e8"
                       : !n.Ran()             ? "#ffffff"
                       : n.result == "failed" ? kFailedColour
                                              : KindColour(n.kind);
    std::string ink = n.barrier || !n.Ran() ? "#333333" : "#ffffff";
    svg << "<g data-node=\"" << i << "\"><title>" << XmlEscape(NodeDetails(graph, i))
        << "</title><rect x=\"" << left(i) << "\" y=\"" << top(i) << "\" width=\"" << kBoxWidth
        << "\" height=\"" << kBoxHeight << "\" rx=\"" << (n.barrier ? 9 : 2) << "\" fill=\"" << fill
        << "\" stroke=\""
        << (onChain[i] ? kChainColour
            : n.Ran()  ? "#666666"
                       : "#aaaaaa")
        << "\" stroke-width=\"" << (onChain[i] ? 2.5 : 1) << "\""
        << (n.Ran() ? "" : " stroke-dasharray=\"3,2\"") << "/><text x=\"" << left(i) + 6
        << "\" y=\"" << top(i) + 14 << "\" fill=\"" << ink << "\""
        << (n.barrier ? " font-style=\"italic\"" : "") << ">" << XmlEscape(Shorten(n.name))
        << "</text></g>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace analyze
}  // namespace bootcrank
