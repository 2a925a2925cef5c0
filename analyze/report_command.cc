// report: the boot as one self-contained HTML page (or, with --json, the
// data the page shows).
#include <nlohmann/json.hpp>

#include "analyze/blame.h"
#include "analyze/chain_view.h"
#include "analyze/command.h"
#include "analyze/html_report.h"

namespace bootcrank {
namespace analyze {

int RunReport(const Invocation& call) {
  Arguments args(call.args, {"--json", "-o=", "--output="});
  args.ExpectPositional(0, 1);
  BootRecord record = LoadRecord(args.Positional().empty() ? "" : args.Positional()[0]);
  std::string output = args.OutputPath();
  BootGraph graph(record);
  NoteMissing(record, call.err);
  if (!args.Flag("--json")) {
    WriteOutput(RenderHtmlReport(graph), output, call.out);
    return kExitOk;
  }
  nlohmann::json blame = nlohmann::json::array();
  for (const RecordNode* p : BlameOrder(record))
    blame.push_back({{"name", p->name},
                     {"kind", p->kind},
                     {"result", p->result},
                     {"duration", p->Ran() ? nlohmann::json(p->Duration()) : nlohmann::json()}});
  nlohmann::json out = {{"record", record.path}, {"blame", blame}};
  if (record.HasGraph())
    out["critical_chain"] = ChainJson(graph, ChainToEnd(graph));
  else
    out["missing"] = record.Missing();
  WriteOutput(JsonText(out) + "\n", output, call.out);
  return kExitOk;
}

}  // namespace analyze
}  // namespace bootcrank
