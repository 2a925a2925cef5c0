// plot: the timeline as SVG (or, with --json, the rows it draws).
#include <nlohmann/json.hpp>

#include "analyze/command.h"
#include "analyze/lanes.h"
#include "analyze/svg_plot.h"

namespace bootcrank {
namespace analyze {

int RunPlot(const Invocation& call) {
  Arguments args(call.args, {"--json", "-o=", "--output="});
  args.ExpectPositional(0, 1);
  BootRecord record = LoadRecord(args.Positional().empty() ? "" : args.Positional()[0]);
  std::string output = args.OutputPath();
  BootGraph graph(record);
  NoteMissing(record, call.err);
  if (args.Flag("--json")) {
    Micros origin = Origin(graph);
    Lanes lanes = AssignLanes(record);
    nlohmann::json rows = nlohmann::json::array();
    auto at = [&](Micros t) {
      return t == kNoTime ? nlohmann::json() : nlohmann::json(t - origin);
    };
    for (size_t i : RanByStart(record)) {
      const RecordNode& n = record.nodes[i];
      rows.push_back({{"name", n.name},
                      {"barrier", n.barrier},
                      {"kind", n.kind},
                      {"result", n.result},
                      {"lane", lanes.lane[i]},
                      {"ready", at(n.ready)},
                      {"started", at(n.started)},
                      {"ended", at(n.ended)}});
    }
    nlohmann::json out = {
        {"record", record.path},
        {"lanes", lanes.count},
        {"lanes_inferred", lanes.inferred},
        {"uptime_seconds",
         record.uptimeSeconds < 0 ? nlohmann::json() : nlohmann::json(record.uptimeSeconds)},
        {"end", at(record.end)},
        {"rows", rows}};
    WriteOutput(JsonText(out) + "\n", output, call.out);
    return kExitOk;
  }
  CriticalChain chain;
  PlotOptions options;
  if (record.HasGraph()) {
    chain = ChainToEnd(graph);
    options.chain = &chain;
  }
  WriteOutput(RenderTimelineSvg(graph, options), output, call.out);
  return kExitOk;
}

}  // namespace analyze
}  // namespace bootcrank
