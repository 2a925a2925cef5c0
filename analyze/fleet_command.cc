// fleet FILE|DIR...: per-plugin statistics over many hosts' records. A
// directory stands for its "*.json" files.
#include <unistd.h>

#include <cstdio>

#include <nlohmann/json.hpp>

#include "analyze/command.h"
#include "analyze/fleet.h"
#include "analyze/record_files.h"
#include "analyze/table.h"
#include "host/files.h"

namespace bootcrank {
namespace analyze {

namespace {

std::string Rate(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  char text[32];
  snprintf(text, sizeof text, "%.1f %%", 100.0 * part / whole);
  return text;
}

nlohmann::json OptionalTime(Micros t) {
  return t == kNoTime ? nlohmann::json() : nlohmann::json(t);
}

}  // namespace

int RunFleet(const Invocation& call) {
  Arguments args(call.args, {"--json", "--threads="});
  args.ExpectPositional(1, SIZE_MAX);
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  int threads = static_cast<int>(std::min<long>(std::max<long>(cpus, 1), 8));
  for (const std::string& t : args.Values("--threads")) {
    long long n = ParseNumber(t, "--threads");
    if (n < 1 || n > 256) throw UsageError("--threads: give 1 to 256 threads");
    threads = static_cast<int>(n);
  }
  std::vector<std::string> files;
  for (const std::string& p : args.Positional()) {
    if (host::IsDirectory(p)) {
      std::vector<std::string> listed = ListRecords(p);
      files.insert(files.end(), listed.begin(), listed.end());
    } else {
      files.push_back(p);
    }
  }
  FleetResult fleet = ReadFleet(files, threads);
  for (const std::string& e : fleet.errors)
    call.err << "bootcrank-analyze fleet: skipped " << e << "\n";
  if (fleet.stats.Records() == 0)
    throw RecordError("no readable record among " + std::to_string(files.size()) + " files");
  std::vector<PluginSummary> plugins = fleet.stats.Summaries();
  int status = fleet.errors.empty() ? kExitOk : kExitFindings;
  if (args.Flag("--json")) {
    nlohmann::json rows = nlohmann::json::array();
    for (const PluginSummary& p : plugins)
      rows.push_back(
          {{"name", p.name},
           {"records", p.records},
           {"runs", p.runs},
           {"median", OptionalTime(p.median)},
           {"p95", OptionalTime(p.p95)},
           {"worst", OptionalTime(p.worst)},
           {"failures", p.failures},
           {"failure_rate",
            p.records ? nlohmann::json(double(p.failures) / p.records) : nlohmann::json()},
           {"on_critical_chain", p.chained},
           {"critical_chain_rate",
            p.chainable ? nlohmann::json(double(p.chained) / p.chainable) : nlohmann::json()}});
    call.out << JsonText({{"records", fleet.stats.Records()},
                          {"skipped", fleet.errors.size()},
                          {"quantiles", "exact, nearest rank"},
                          {"plugins", rows}})
             << "\n";
    return status;
  }
  call.out << fleet.stats.Records() << " records";
  if (!fleet.errors.empty()) call.out << " (" << fleet.errors.size() << " skipped)";
  call.out << "; durations over the runs of each plugin (exact nearest-rank quantiles).\n";
  Table table({{"PLUGIN"},
               {"RUNS", true},
               {"MEDIAN", true},
               {"P95", true},
               {"WORST", true},
               {"FAILED", true},
               {"ON CHAIN", true}});
  for (const PluginSummary& p : plugins)
    table.AddRow({p.name,
                  std::to_string(p.runs),
                  FormatDuration(p.median),
                  FormatDuration(p.p95),
                  FormatDuration(p.worst),
                  {Rate(p.failures, p.records), p.failures ? colour::kRed : colour::kNone},
                  Rate(p.chained, p.chainable)});
  table.Print(call.out, call.colour);
  return status;
}

}  // namespace analyze
}  // namespace bootcrank
