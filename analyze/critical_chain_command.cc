// critical-chain [PLUGIN]: the chain that set the end of the boot, or the
// start of PLUGIN.
#include "analyze/chain_view.h"
#include "analyze/command.h"
#include "analyze/table.h"

namespace bootcrank {
namespace analyze {

int RunCriticalChain(const Invocation& call) {
  Arguments args(call.args, {"--json", "--record="});
  args.ExpectPositional(0, 1);
  std::vector<std::string> records = args.Values("--record");
  BootRecord record = LoadRecord(records.empty() ? "" : records.back());
  RequireGraph(record, "critical-chain");
  BootGraph graph(record);
  CriticalChain chain;
  if (args.Positional().empty()) {
    chain = ChainToEnd(graph);
  } else {
    const std::string& name = args.Positional()[0];
    size_t target = graph.FindNode(name);
    if (target == kNoNode)
      throw UsageError("no plugin or barrier '" + name + "' in " + record.path);
    if (!graph.Node(target).Ran()) {
      call.err << "bootcrank-analyze critical-chain: '" << name << "' did not run in this boot"
               << (graph.Node(target).result.empty() ? "" : " (" + graph.Node(target).result + ")")
               << "\n";
      return kExitFindings;
    }
    chain = ChainTo(graph, target);
  }
  if (args.Flag("--json")) {
    call.out << JsonText(ChainJson(graph, chain)) << "\n";
    return kExitOk;
  }
  if (args.Positional().empty())
    call.out << "The chain that set the end of the boot ("
             << FormatOffset(graph.RunEnd() - Origin(graph)) << "):\n";
  else
    call.out << "The chain that set the start of " << args.Positional()[0] << ":\n";
  PrintChain(graph, chain, call.out, call.colour);
  return kExitOk;
}

}  // namespace analyze
}  // namespace bootcrank
