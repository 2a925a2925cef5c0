// trace: the run as Chrome trace events.
#include <nlohmann/json.hpp>

#include "analyze/chrome_trace.h"
#include "analyze/command.h"

namespace bootcrank {
namespace analyze {

int RunTrace(const Invocation& call) {
  // The output is JSON already; --json is accepted like every command's.
  Arguments args(call.args, {"--json", "-o=", "--output="});
  args.ExpectPositional(0, 1);
  BootRecord record = LoadRecord(args.Positional().empty() ? "" : args.Positional()[0]);
  BootGraph graph(record);
  NoteMissing(record, call.err);
  WriteOutput(JsonText(ChromeTrace(graph), -1) + "\n", args.OutputPath(), call.out);
  return kExitOk;
}

}  // namespace analyze
}  // namespace bootcrank
