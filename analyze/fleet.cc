#include "analyze/fleet.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <unordered_set>

#include "analyze/boot_graph.h"
#include "analyze/critical_chain.h"
#include "analyze/record_reader.h"

namespace bootcrank {
namespace analyze {

Micros NearestRank(std::vector<Micros>& values, double percent) {
  if (values.empty()) return kNoTime;
  size_t rank = static_cast<size_t>(std::ceil(percent / 100.0 * values.size()));
  rank = std::min(std::max<size_t>(rank, 1), values.size());
  std::nth_element(values.begin(), values.begin() + (rank - 1), values.end());
  return values[rank - 1];
}

void FleetStats::Add(const BootRecord& record) {
  ++records_;
  std::unordered_set<std::string> chain;
  if (record.HasGraph()) {
    BootGraph graph(record);
    for (const ChainLink& link : ChainToEnd(graph).links)
      if (!graph.Node(link.node).barrier) chain.insert(graph.Node(link.node).name);
  }
  for (const RecordNode& n : record.nodes) {
    if (n.barrier) continue;
    Counts& c = plugins_[n.name];
    ++c.records;
    if (n.Ran()) c.durations.push_back(n.Duration());
    c.failures += n.result == "failed";
    if (record.HasGraph()) {
      ++c.chainable;
      c.chained += chain.count(n.name);
    }
  }
}

void FleetStats::Merge(FleetStats&& other) {
  records_ += other.records_;
  for (auto& [name, theirs] : other.plugins_) {
    Counts& ours = plugins_[name];
    if (ours.durations.empty())
      ours.durations.swap(theirs.durations);
    else
      ours.durations.insert(ours.durations.end(), theirs.durations.begin(), theirs.durations.end());
    ours.records += theirs.records;
    ours.failures += theirs.failures;
    ours.chained += theirs.chained;
    ours.chainable += theirs.chainable;
  }
  other.plugins_.clear();
}

std::vector<PluginSummary> FleetStats::Summaries() const {
  std::vector<PluginSummary> out;
  for (const auto& [name, c] : plugins_) {
    PluginSummary s;
    s.name = name;
    s.records = c.records;
    s.runs = c.durations.size();
    s.failures = c.failures;
    s.chained = c.chained;
    s.chainable = c.chainable;
    std::vector<Micros> values = c.durations;
    s.median = NearestRank(values, 50);
    s.p95 = NearestRank(values, 95);
    s.worst = values.empty() ? kNoTime : *std::max_element(values.begin(), values.end());
    out.push_back(std::move(s));
  }
  std::sort(out.begin(), out.end(), [](const PluginSummary& a, const PluginSummary& b) {
    if (a.median != b.median) return a.median > b.median;
    return a.name < b.name;
  });
  return out;
}

FleetResult ReadFleet(const std::vector<std::string>& files, int threads) {
  threads =
      std::max(1, std::min<int>(threads, static_cast<int>(std::max<size_t>(files.size(), 1))));
  std::atomic<size_t> next{0};
  std::vector<FleetStats> stats(threads);
  std::vector<std::vector<std::pair<size_t, std::string>>> errors(threads);
  auto work = [&](int t) {
    for (size_t i = next++; i < files.size(); i = next++) {
      try {
        stats[t].Add(ReadBootRecord(files[i], true));
      } catch (const RecordError& e) {
        errors[t].emplace_back(i, e.what());
      } catch (const std::exception& e) {
        errors[t].emplace_back(i, files[i] + ": " + e.what());
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
  work(0);
  for (std::thread& t : pool) t.join();
  FleetResult result;
  std::vector<std::pair<size_t, std::string>> all;
  for (int t = 0; t < threads; ++t) {
    result.stats.Merge(std::move(stats[t]));
    all.insert(all.end(), errors[t].begin(), errors[t].end());
  }
  std::sort(all.begin(), all.end());
  for (auto& e : all) result.errors.push_back(std::move(e.second));
  return result;
}

}  // namespace analyze
}  // namespace bootcrank
