#include "analyze/html_report.h"

#include <sstream>

#include <nlohmann/json.hpp>

#include "analyze/blame.h"
#include "analyze/command.h"
#include "analyze/critical_chain.h"
#include "analyze/graph_svg.h"
#include "analyze/svg_plot.h"
#include "analyze/table.h"

namespace bootcrank {
namespace analyze {

namespace {

const char kStyle[] = R"(
body { font-family: sans-serif; margin: 0 1.5em 12em; color: #222; }
h1 { font-size: 1.5em; margin: 0.8em 0 0.2em; }
h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
nav a { margin-right: 1em; }
.scroll { overflow: auto; border: 1px solid #ddd; max-height: 80vh; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { padding: 0.15em 0.8em; text-align: left; }
th { background: #f0f0f0; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
tr:nth-child(even) td { background: #fafafa; }
tr.failed td { color: #d62728; font-weight: bold; }
tr.barrier td { color: #777; font-style: italic; }
.note { color: #8a6d00; background: #fff8db; padding: 0.4em 0.8em; }
#details { position: fixed; right: 1em; bottom: 1em; width: 34em; max-height: 40vh; overflow: auto;
  white-space: pre-wrap; font-family: monospace; font-size: 0.85em; background: #fffff0;
  border: 1px solid #bbb; padding: 0.6em; box-shadow: 0 2px 6px rgba(0,0,0,0.2); }
.hover rect, .hover polygon, tr.hover td { outline: 2px solid #ff7f0e; }
)";

const char kScript[] = R"(
"use strict";
(function () {
  const details = document.getElementById("details");
  const data = JSON.parse(document.getElementById("node-details").textContent);
  let marked = [];
  function show(index) {
    details.textContent = data[index];
    marked.forEach(function (e) { e.classList.remove("hover"); });
    marked = Array.from(document.querySelectorAll('[data-node="' + index + '"]'));
    marked.forEach(function (e) { e.classList.add("hover"); });
  }
  document.querySelectorAll("[data-node]").forEach(function (e) {
    e.addEventListener("mouseenter", function () { show(e.getAttribute("data-node")); });
  });
})();
)";

std::string Td(const std::string& text, bool number = false) {
  return std::string(number ? "<td class=\"num\">" : "<td>") + XmlEscape(text) + "</td>";
}

}  // namespace

std::string RenderHtmlReport(const BootGraph& graph) {
  const BootRecord& record = graph.Record();
  CriticalChain chain;
  if (record.HasGraph()) chain = ChainToEnd(graph);
  Micros origin = Origin(graph);

  std::ostringstream html;
  std::string title = "bootcrank boot" + (record.hostName.empty() ? "" : " of " + record.hostName);
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
       << "<link rel=\"icon\" href=\"data:,\">\n<title>" << XmlEscape(title) << "</title>\n<style>"
       << kStyle << "</style>\n</head>\n<body>\n<h1>" << XmlEscape(title) << "</h1>\n";

  // The run's facts.
  int ran = 0, failed = 0, skipped = 0;
  for (const RecordNode& n : record.nodes)
    if (!n.barrier) {
      ran += n.Ran();
      failed += n.result == "failed";
      skipped += !n.Ran();
    }
  html << "<p id=\"summary\">";
  if (record.start != kNoTime && record.end != kNoTime)
    html << "bootcrank ran " << FormatDuration(record.end - record.start);
  if (record.uptimeSeconds >= 0)
    html << " after " << record.uptimeSeconds << " s of kernel and early boot";
  html << "; " << ran << " plugins ran, " << failed << " failed, " << skipped << " did not run";
  if (!record.mode.empty()) html << "; mode " << XmlEscape(record.mode);
  if (record.workers > 0)
    html << ", " << record.workers << (record.workers == 1 ? " worker" : " workers");
  if (!record.programVersion.empty())
    html << "; " << XmlEscape(record.programName + " " + record.programVersion);
  if (record.exitStatus >= 0) html << "; exit status " << record.exitStatus;
  if (!record.signal.empty()) html << ", ended by " << XmlEscape(record.signal);
  html << ".</p>\n<p class=\"source\">Record: " << XmlEscape(record.path) << "</p>\n";
  if (!record.HasGraph())
    html << "<p class=\"note\">This is a profiling log: it lacks " << XmlEscape(record.Missing())
         << ", so the critical chain and the graph cannot be shown.</p>\n";
  html << "<nav><a href=\"#timeline\">Timeline</a><a href=\"#blame\">Blame</a><a "
          "href=\"#chain\">Critical chain</a>"
       << "<a href=\"#graph\">Graph</a></nav>\n";

  // Timeline.
  PlotOptions plot;
  plot.embedded = true;
  plot.chain = record.HasGraph() ? &chain : nullptr;
  html << "<section id=\"timeline\">\n<h2>Timeline</h2>\n<div class=\"scroll\">\n"
       << RenderTimelineSvg(graph, plot) << "</div>\n</section>\n";

  // Blame.
  html << "<section "
          "id=\"blame\">\n<h2>Blame</h2>\n<table>\n<thead><tr><th>Duration</th><th>Result</"
          "th><th>Kind</th>"
          "<th>Plugin</th><th>Started at</th></tr></thead>\n<tbody>\n";
  for (const RecordNode* p : BlameOrder(record)) {
    size_t index = static_cast<size_t>(p - record.nodes.data());
    std::string result = p->result.empty() ? (p->Ran() ? "-" : "did not run") : p->result;
    if (!p->skipReason.empty()) result += " (" + p->skipReason + ")";
    html << "<tr data-node=\"" << index << "\""
         << (p->result == "failed" ? " class=\"failed\"" : "") << ">"
         << Td(FormatDuration(p->Ran() ? p->Duration() : kNoTime), true) << Td(result)
         << Td(p->kind.empty() ? "-" : p->kind) << Td(p->name)
         << Td(p->Ran() ? FormatOffset(p->started - origin) : "-", true) << "</tr>\n";
  }
  html << "</tbody>\n</table>\n</section>\n";

  // Critical chain.
  html << "<section id=\"chain\">\n<h2>Critical chain</h2>\n";
  if (!record.HasGraph()) {
    html << "<p class=\"note\">Not available from a profiling log.</p>\n";
  } else if (chain.links.empty()) {
    html << "<p>Nothing ran.</p>\n";
  } else {
    html
        << "<p>The plugins and barriers whose ends, one after the other, set the end of the boot. "
           "For each: the "
           "time until its last dependency released it, the time it then waited for a free worker, "
           "and its run.</p>\n"
        << "<table>\n<thead><tr><th>Node</th><th>Kind</th><th>Ready at</th><th>Dependency wait</th>"
           "<th>Worker wait</th><th>Run</th><th>Ended at</th></tr></thead>\n<tbody>\n";
    for (const ChainLink& link : chain.links) {
      const RecordNode& n = graph.Node(link.node);
      const char* cls = n.result == "failed" ? " class=\"failed\""
                        : n.barrier          ? " class=\"barrier\""
                                             : "";
      html << "<tr data-node=\"" << link.node << "\"" << cls << ">" << Td(n.name)
           << Td(n.barrier ? "barrier" : n.kind)
           << Td(FormatOffset(n.started - link.workerWait - origin), true)
           << Td(FormatDuration(link.dependencyWait), true)
           << Td(FormatDuration(link.workerWait), true) << Td(FormatDuration(link.run), true)
           << Td(FormatOffset(n.ended - origin), true) << "</tr>\n";
    }
    html << "</tbody>\n</table>\n";
  }
  html << "</section>\n";

  // Graph.
  html << "<section id=\"graph\">\n<h2>Dependency graph</h2>\n";
  if (record.HasGraph())
    html << "<p>Each node's column is its longest chain of dependencies; the critical chain is "
            "orange.</p>\n"
         << "<div class=\"scroll\">\n"
         << RenderGraphSvg(graph, &chain) << "</div>\n";
  else
    html << "<p class=\"note\">Not available from a profiling log.</p>\n";
  html << "</section>\n";

  // Problems the run recorded.
  if (!record.loadFailures.empty() || !record.cycles.empty() || !record.missingBarriers.empty()) {
    html << "<section id=\"problems\">\n<h2>Problems</h2>\n<ul>\n";
    for (const LoadFailure& f : record.loadFailures)
      html << "<li>Not loaded: " << XmlEscape(f.file) << ": " << XmlEscape(f.reason) << "</li>\n";
    for (const Cycle& c : record.cycles) {
      std::string nodes;
      for (const std::string& n : c.nodes) nodes += (nodes.empty() ? "" : " \u2192 ") + n;
      html << "<li>Dependency cycle " << XmlEscape(nodes) << "; dropped the edge "
           << XmlEscape(c.droppedFrom) << " \u2192 " << XmlEscape(c.droppedTo) << "</li>\n";
    }
    for (const MissingBarrier& m : record.missingBarriers) {
      std::string by;
      for (const std::string& n : m.requiredBy) by += (by.empty() ? "" : ", ") + n;
      html << "<li>Barrier " << XmlEscape(m.name) << " is provided by no plugin; required by "
           << XmlEscape(by) << "</li>\n";
    }
    html << "</ul>\n</section>\n";
  }

  // Details on hover: every node's text, indexed like data-node.
  nlohmann::json details = nlohmann::json::array();
  for (size_t i = 0; i < graph.Size(); ++i) details.push_back(NodeDetails(graph, i));
  std::string data = JsonText(details, -1);
  for (size_t at = data.find("</"); at != std::string::npos; at = data.find("</", at))
    data.replace(at, 2, "<\\/");
  html << "<aside id=\"details\">Point at a plugin or barrier for its details.</aside>\n"
       << "<script type=\"application/json\" id=\"node-details\">" << data << "</script>\n"
       << "<script>" << kScript << "</script>\n</body>\n</html>\n";
  return html.str();
}

}  // namespace analyze
}  // namespace bootcrank
