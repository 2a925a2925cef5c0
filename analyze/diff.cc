// diff OLD NEW: per-plugin change in duration and result between two
// boots, the new failures, and how the critical chain changed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "analyze/chain_view.h"
#include "analyze/command.h"
#include "analyze/table.h"

namespace bootcrank {
namespace analyze {

namespace {

struct Row {
  std::string name;
  const RecordNode* old = nullptr;
  const RecordNode* now = nullptr;
  bool Both() const { return old != nullptr && now != nullptr && old->Ran() && now->Ran(); }
  Micros Change() const { return Both() ? now->Duration() - old->Duration() : 0; }
};

std::string ResultText(const RecordNode* n) {
  if (n == nullptr) return "absent";
  if (!n->result.empty()) return n->result;
  return n->Ran() ? "ran" : "did not run";
}

std::string Join(const std::vector<std::string>& names, const char* separator) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : separator) + n;
  return text.empty() ? "(none)" : text;
}

}  // namespace

int RunDiff(const Invocation& call) {
  Arguments args(call.args, {"--json"});
  args.ExpectPositional(2, 2);
  BootRecord oldRecord = LoadRecord(args.Positional()[0]);
  BootRecord newRecord = LoadRecord(args.Positional()[1]);
  BootGraph oldGraph(oldRecord), newGraph(newRecord);

  // Rows in the new record's order, then the plugins it no longer has.
  std::vector<Row> rows;
  std::map<std::string, size_t> index;
  for (const RecordNode& n : newRecord.nodes)
    if (!n.barrier && index.emplace(n.name, rows.size()).second)
      rows.push_back({n.name, nullptr, &n});
  for (const RecordNode& n : oldRecord.nodes) {
    if (n.barrier) continue;
    auto it = index.find(n.name);
    if (it == index.end()) {
      index.emplace(n.name, rows.size());
      rows.push_back({n.name, &n, nullptr});
    } else if (rows[it->second].old == nullptr) {
      rows[it->second].old = &n;
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::llabs(a.Change()) > std::llabs(b.Change());
  });
  std::vector<const Row*> newFailures;
  for (const Row& r : rows)
    if (r.now != nullptr && r.now->result == "failed" &&
        (r.old == nullptr || r.old->result != "failed"))
      newFailures.push_back(&r);

  bool chains = oldRecord.HasGraph() && newRecord.HasGraph();
  std::vector<std::string> oldChain, newChain, left, joined;
  if (chains) {
    oldChain = ChainNames(oldGraph, ChainToEnd(oldGraph));
    newChain = ChainNames(newGraph, ChainToEnd(newGraph));
    std::set<std::string> o(oldChain.begin(), oldChain.end()), n(newChain.begin(), newChain.end());
    for (const std::string& s : oldChain)
      if (!n.count(s)) left.push_back(s);
    for (const std::string& s : newChain)
      if (!o.count(s)) joined.push_back(s);
  }
  auto span = [](const BootRecord& r) {
    return r.start != kNoTime && r.end != kNoTime ? r.end - r.start : kNoTime;
  };
  Micros oldSpan = span(oldRecord), newSpan = span(newRecord);
  int status = newFailures.empty() ? kExitOk : kExitFindings;

  if (args.Flag("--json")) {
    auto duration = [](const RecordNode* n) {
      return n != nullptr && n->Ran() ? nlohmann::json(n->Duration()) : nlohmann::json();
    };
    nlohmann::json plugins = nlohmann::json::array();
    for (const Row& r : rows)
      plugins.push_back({{"name", r.name},
                         {"old_duration", duration(r.old)},
                         {"new_duration", duration(r.now)},
                         {"change", r.Both() ? nlohmann::json(r.Change()) : nlohmann::json()},
                         {"old_result", ResultText(r.old)},
                         {"new_result", ResultText(r.now)}});
    nlohmann::json failures = nlohmann::json::array();
    for (const Row* r : newFailures)
      failures.push_back({{"name", r->name}, {"error", r->now->error}});
    nlohmann::json out = {
        {"old", oldRecord.path},
        {"new", newRecord.path},
        {"old_boot", oldSpan == kNoTime ? nlohmann::json() : nlohmann::json(oldSpan)},
        {"new_boot", newSpan == kNoTime ? nlohmann::json() : nlohmann::json(newSpan)},
        {"plugins", plugins},
        {"new_failures", failures}};
    if (chains)
      out["critical_chain"] = {
          {"old", oldChain}, {"new", newChain}, {"left", left}, {"joined", joined}};
    call.out << JsonText(out) << "\n";
    return status;
  }
  NoteMissing(oldRecord, call.err);
  NoteMissing(newRecord, call.err);
  if (oldSpan != kNoTime && newSpan != kNoTime) {
    char ratio[32];
    snprintf(ratio, sizeof ratio, "%+.1f %%",
             oldSpan > 0 ? 100.0 * (newSpan - oldSpan) / oldSpan : 0.0);
    call.out << "Boot: " << FormatDuration(oldSpan) << " -> " << FormatDuration(newSpan) << " ("
             << (newSpan >= oldSpan ? "+" : "") << FormatDuration(newSpan - oldSpan) << ", "
             << ratio << ")\n";
  }
  if (!newFailures.empty()) {
    call.out << Paint("New failures:", colour::kRed, call.colour) << "\n";
    for (const Row* r : newFailures)
      call.out << "  " << r->name << (r->now->error.empty() ? "" : ": " + r->now->error) << "\n";
  }
  call.out << "\n";
  Table table({{"PLUGIN"}, {"OLD", true}, {"NEW", true}, {"CHANGE", true}, {"RESULT"}});
  for (const Row& r : rows) {
    std::string result = ResultText(r.old) == ResultText(r.now)
                             ? ResultText(r.now)
                             : ResultText(r.old) + " -> " + ResultText(r.now);
    std::string change = r.Both() ? (r.Change() >= 0 ? "+" : "") + FormatDuration(r.Change()) : "";
    const char* tint = r.Change() > 0 ? colour::kYellow : colour::kNone;
    table.AddRow({r.name,
                  FormatDuration(r.old && r.old->Ran() ? r.old->Duration() : kNoTime),
                  FormatDuration(r.now && r.now->Ran() ? r.now->Duration() : kNoTime),
                  {change, tint},
                  {result, r.now != nullptr ? ResultColour(r.now->result) : colour::kNone}});
  }
  table.Print(call.out, call.colour);
  call.out << "\nCritical chain:\n";
  if (!chains) {
    call.out << "  not compared: a profiling log has no dependencies\n";
  } else {
    call.out << "  old: " << Join(oldChain, " -> ") << "\n  new: " << Join(newChain, " -> ")
             << "\n";
    if (left.empty() && joined.empty()) call.out << "  unchanged\n";
    if (!left.empty()) call.out << "  left the chain: " << Join(left, ", ") << "\n";
    if (!joined.empty()) call.out << "  joined the chain: " << Join(joined, ", ") << "\n";
  }
  return status;
}

}  // namespace analyze
}  // namespace bootcrank
