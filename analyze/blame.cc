// blame: the plugins by duration, longest first, with result and kind;
// plugins that did not run follow, in run-list order.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "analyze/blame.h"
#include "analyze/command.h"
#include "analyze/table.h"

namespace bootcrank {
namespace analyze {

namespace {

nlohmann::json OptionalTime(Micros t) {
  return t == kNoTime ? nlohmann::json() : nlohmann::json(t);
}

}  // namespace

std::vector<const RecordNode*> BlameOrder(const BootRecord& record) {
  std::vector<const RecordNode*> plugins;
  for (const RecordNode& n : record.nodes)
    if (!n.barrier) plugins.push_back(&n);
  std::stable_sort(plugins.begin(), plugins.end(), [](const RecordNode* a, const RecordNode* b) {
    if (a->Ran() != b->Ran()) return a->Ran();
    return a->Duration() > b->Duration();
  });
  return plugins;
}

int RunBlame(const Invocation& call) {
  Arguments args(call.args, {"--json"});
  args.ExpectPositional(0, 1);
  BootRecord record = LoadRecord(args.Positional().empty() ? "" : args.Positional()[0]);
  std::vector<const RecordNode*> plugins = BlameOrder(record);
  if (args.Flag("--json")) {
    nlohmann::json out = {{"record", record.path},
                          {"source", record.HasGraph() ? "record" : "profiling_log"},
                          {"plugins", nlohmann::json::array()}};
    if (!record.HasGraph()) out["missing"] = record.Missing();
    for (const RecordNode* p : plugins) {
      out["plugins"].push_back(
          {{"name", p->name},
           {"kind", p->kind.empty() ? nlohmann::json() : nlohmann::json(p->kind)},
           {"result", p->result.empty() ? nlohmann::json() : nlohmann::json(p->result)},
           {"duration", p->Ran() ? nlohmann::json(p->Duration()) : nlohmann::json()},
           {"started", OptionalTime(p->started)},
           {"ended", OptionalTime(p->ended)}});
    }
    call.out << JsonText(out) << "\n";
    return kExitOk;
  }
  NoteMissing(record, call.err);
  Table table({{"DURATION", true}, {"RESULT"}, {"KIND"}, {"PLUGIN"}});
  for (const RecordNode* p : plugins) {
    std::string result = p->result.empty() ? (p->Ran() ? "-" : "did not run") : p->result;
    if (p->result == "skipped" && !p->skipReason.empty()) result += " (" + p->skipReason + ")";
    table.AddRow({FormatDuration(p->Ran() ? p->Duration() : kNoTime),
                  {result, ResultColour(p->result)},
                  p->kind.empty() ? "-" : p->kind,
                  p->name});
  }
  table.Print(call.out, call.colour);
  return kExitOk;
}

}  // namespace analyze
}  // namespace bootcrank
