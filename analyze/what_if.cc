// what-if: the boot replayed under the executor's urgency rule, first as it
// was configured (how well the replay matches the measured run) and then
// with other worker counts or plugin durations: the predicted end and
// critical chain.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "analyze/chain_view.h"
#include "analyze/command.h"
#include "analyze/replay.h"
#include "analyze/table.h"

namespace bootcrank {
namespace analyze {

namespace {

std::string Percent(double ratio) {
  char text[32];
  snprintf(text, sizeof text, "%+.1f %%", ratio * 100.0);
  return text;
}

Micros Span(const BootGraph& graph) { return graph.RunEnd() - graph.RunStart(); }

std::string Workers(int n) { return std::to_string(n) + (n == 1 ? " worker" : " workers"); }

}  // namespace

int RunWhatIf(const Invocation& call) {
  Arguments args(call.args, {"--json", "--workers=", "--duration=", "--dispatch-cost="});
  args.ExpectPositional(0, 1);
  ReplayOptions whatIf;
  for (const std::string& w : args.Values("--workers")) {
    long long n = ParseNumber(w, "--workers");
    if (n < 1 || n > 100000) throw UsageError("--workers: give 1 to 100000 workers");
    whatIf.workers = static_cast<int>(n);
  }
  for (const std::string& d : args.Values("--duration")) {
    size_t eq = d.rfind('=');
    if (eq == std::string::npos || eq == 0)
      throw UsageError("--duration: give PLUGIN=MS, not '" + d + "'");
    std::string ms = d.substr(eq + 1);
    char* stop = nullptr;
    double value = strtod(ms.c_str(), &stop);
    if (ms.empty() || *stop != '\0' || !(value >= 0) || value > 1e9)
      throw UsageError("--duration: not a duration in milliseconds: '" + ms + "'");
    whatIf.durations[d.substr(0, eq)] = static_cast<Micros>(std::llround(value * 1000));
  }
  ReplayOptions asMeasured;
  for (const std::string& c : args.Values("--dispatch-cost")) {
    long long us = ParseNumber(c, "--dispatch-cost");
    if (us < 0) throw UsageError("--dispatch-cost: give microseconds, 0 or more");
    asMeasured.dispatchCost = whatIf.dispatchCost = us;
  }
  BootRecord record = LoadRecord(args.Positional().empty() ? "" : args.Positional()[0]);
  RequireGraph(record, "what-if");
  if (record.mode == "daemon-stop")
    throw RecordError(record.path + ": what-if replays start runs, not a daemon stop run");
  BootGraph graph(record);
  if (graph.RunStart() == kNoTime) throw RecordError(record.path + ": nothing ran in this boot");
  ReplayResult replay, changed;
  try {
    replay = Replay(graph, asMeasured);
    changed = Replay(graph, whatIf);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  BootGraph replayGraph(replay.predicted), changedGraph(changed.predicted);
  CriticalChain chain = ChainToEnd(changedGraph);
  Micros measured = Span(graph), replayed = Span(replayGraph), predicted = Span(changedGraph);
  double deviation = measured > 0 ? static_cast<double>(replayed - measured) / measured : 0.0;
  double change = measured > 0 ? static_cast<double>(predicted - measured) / measured : 0.0;
  Micros origin = Origin(graph);
  int workers = whatIf.workers > 0 ? whatIf.workers : record.WorkerCount();

  if (args.Flag("--json")) {
    nlohmann::json durations = nlohmann::json::object();
    for (const auto& [name, us] : whatIf.durations) durations[name] = us;
    auto end = [&](const BootRecord& r) {
      return r.end == kNoTime ? nlohmann::json() : nlohmann::json(r.end - origin);
    };
    nlohmann::json out = {
        {"record", record.path},
        {"dispatch_cost", replay.dispatchCost},
        {"measured", {{"workers", record.WorkerCount()}, {"span", measured}, {"end", end(record)}}},
        {"replay", {{"span", replayed}, {"end", end(replay.predicted)}, {"deviation", deviation}}},
        {"what_if",
         {{"workers", workers},
          {"durations", durations},
          {"span", predicted},
          {"end", end(changed.predicted)},
          {"change", change},
          {"critical_chain", ChainJson(changedGraph, chain)}}}};
    if (!changed.neverReady.empty()) out["what_if"]["never_ready"] = changed.neverReady;
    call.out << JsonText(out) << "\n";
    return kExitOk;
  }
  call.out << "Measured: " << FormatDuration(measured)
           << " from the first ready node to the last end, " << Workers(record.WorkerCount());
  if (record.end != kNoTime)
    call.out << "; the boot ended at " << FormatOffset(record.end - origin);
  call.out << ".\nReplay of that configuration: " << FormatDuration(replayed) << " ("
           << Percent(deviation) << "), with a dispatch cost of "
           << FormatDuration(replay.dispatchCost) << " per node.\n";
  call.out << "What if " << Workers(workers);
  for (const auto& [name, us] : whatIf.durations)
    call.out << ", " << name << " " << FormatDuration(us);
  call.out << ": " << FormatDuration(predicted) << " (" << Percent(change)
           << " against the measured run)";
  if (changed.predicted.end != kNoTime)
    call.out << "; the boot would end at " << FormatOffset(changed.predicted.end - origin);
  call.out << ".\n";
  if (!changed.neverReady.empty()) {
    call.out << "Never ready (the record's edges close a cycle):";
    for (const std::string& n : changed.neverReady) call.out << " " << n;
    call.out << "\n";
  }
  call.out << "\nIts critical chain:\n";
  PrintChain(changedGraph, chain, call.out, call.colour);
  return kExitOk;
}

}  // namespace analyze
}  // namespace bootcrank
