// The dispatcher's table: one row per subcommand.
#include "analyze/command.h"

namespace bootcrank {
namespace analyze {

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"blame", "[--json] [RECORD]", "plugins by duration, with result and kind", RunBlame},
      {"critical-chain", "[--json] [--record=RECORD] [PLUGIN]",
       "the chain that set the end of the boot (or the start of PLUGIN)", RunCriticalChain},
      {"plot", "[--json] [-o FILE] [RECORD]", "the boot's timeline as SVG", RunPlot},
      {"report", "[--json] [-o FILE] [RECORD]",
       "one self-contained HTML page: timeline, blame, chain, graph", RunReport},
      {"trace", "[-o FILE] [RECORD]", "the run as Chrome trace events, one track per worker",
       RunTrace},
      {"what-if", "[--json] [--workers=N] [--duration=PLUGIN=MS]... [RECORD]",
       "the boot replayed with other workers or durations", RunWhatIf},
      {"diff", "[--json] OLD NEW",
       "changes in duration, result and critical chain between two boots", RunDiff},
      {"fleet", "[--json] [--threads=N] FILE|DIR...",
       "per-plugin statistics over many hosts' records", RunFleet},
      {"verify", "[--json] [--plugin-directory=DIR] [--plugin-flags=FLAG,...] [--no-commands]",
       "what would go wrong at boot with the installed plugins, found without running anything",
       RunVerify},
  };
  return kCommands;
}

}  // namespace analyze
}  // namespace bootcrank
