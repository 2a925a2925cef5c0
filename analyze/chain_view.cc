#include "analyze/chain_view.h"

#include "analyze/table.h"

namespace bootcrank {
namespace analyze {

namespace {

std::string KindOf(const RecordNode& n) {
  if (n.barrier) return n.kind.empty() ? "barrier" : n.kind + " barrier";
  return n.kind.empty() ? "plugin" : n.kind;
}

// The dimmed "(start)" or "(end)" row: the time between the boot's edge and
// the chain, in the RUN column.
void AddEdgeRow(Table& table, const char* label, Micros run, Micros endedAt) {
  table.AddRow({{label, colour::kDim}, "", "", "", "", FormatDuration(run), FormatOffset(endedAt)});
}

}  // namespace

void PrintChain(const BootGraph& graph, const CriticalChain& chain, std::ostream& out,
                bool colour) {
  if (chain.links.empty()) {
    out << "(nothing ran)\n";
    return;
  }
  Micros origin = Origin(graph);
  const BootRecord& record = graph.Record();
  Table table({{"NODE"},
               {"KIND"},
               {"READY AT", true},
               {"DEP WAIT", true},
               {"WORKER WAIT", true},
               {"RUN", true},
               {"ENDED AT", true}});
  if (record.start != kNoTime)
    AddEdgeRow(table, "(start)", chain.runStart - record.start, chain.runStart - origin);
  for (const ChainLink& link : chain.links) {
    const RecordNode& n = graph.Node(link.node);
    const char* paint =
        n.result == "failed" ? colour::kRed : (n.barrier ? colour::kDim : colour::kNone);
    table.AddRow({{n.name, paint},
                  KindOf(n),
                  FormatOffset(n.started - link.workerWait - origin),
                  FormatDuration(link.dependencyWait),
                  {FormatDuration(link.workerWait),
                   link.workerWait > link.run ? colour::kYellow : colour::kNone},
                  FormatDuration(link.run),
                  FormatOffset(n.ended - origin)});
  }
  const RecordNode& last = graph.Node(chain.links.back().node);
  if (record.end != kNoTime && last.ended == graph.RunEnd())
    AddEdgeRow(table, "(end)", record.end - last.ended, record.end - origin);
  table.Print(out, colour);
}

nlohmann::json ChainJson(const BootGraph& graph, const CriticalChain& chain) {
  Micros origin = Origin(graph);
  nlohmann::json links = nlohmann::json::array();
  for (const ChainLink& link : chain.links) {
    const RecordNode& n = graph.Node(link.node);
    links.push_back({{"name", n.name},
                     {"kind", n.kind.empty() ? nlohmann::json() : nlohmann::json(n.kind)},
                     {"barrier", n.barrier},
                     {"ready", n.started - link.workerWait - origin},
                     {"started", n.started - origin},
                     {"ended", n.ended - origin},
                     {"dependency_wait", link.dependencyWait},
                     {"worker_wait", link.workerWait},
                     {"run", link.run}});
  }
  nlohmann::json out = {
      {"target",
       chain.target == kNoNode ? nlohmann::json() : nlohmann::json(graph.Node(chain.target).name)},
      {"run_start",
       chain.runStart == kNoTime ? nlohmann::json() : nlohmann::json(chain.runStart - origin)},
      {"end", graph.Record().end == kNoTime ? nlohmann::json()
                                            : nlohmann::json(graph.Record().end - origin)},
      {"links", links}};
  return out;
}

std::vector<std::string> ChainNames(const BootGraph& graph, const CriticalChain& chain) {
  std::vector<std::string> names;
  for (const ChainLink& link : chain.links) names.push_back(graph.Node(link.node).name);
  return names;
}

}  // namespace analyze
}  // namespace bootcrank
