// The replay: the executor's walk and urgency rule on paper.
#include "analyze/replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "analyze/chain_view.h"
#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::Ms;
using testing::NodeRow;
using testing::Parse;
using testing::RecordJson;

ReplayResult ReplayOn(const BootRecord& r, int workers,
                      std::map<std::string, Micros> durations = {}) {
  ReplayOptions o;
  o.workers = workers;
  o.durations = std::move(durations);
  o.dispatchCost = 0;
  return Replay(BootGraph(r), o);
}

const RecordNode& Node(const ReplayResult& r, const std::string& name) {
  for (const RecordNode& n : r.predicted.nodes)
    if (n.name == name) return n;
  throw std::runtime_error("no node " + name);
}

// Independent plugins a (10 ms), b (20 ms), c (30 ms), d (40 ms), all ready
// at 0, and e (5 ms) after the barrier that a provides.
BootRecord FiveAtOnce() {
  return Parse(RecordJson({{"a", {}, 0, 0, 10, 0},
                           {"b", {}, 0, 10, 30, 0},
                           {"c", {}, 0, 30, 60, 0},
                           {"d", {}, 0, 60, 100, 0},
                           {"e", {"a-done"}, 10, 100, 105, 0}},
                          {{"a-done", {"a"}, 10, 10, 10, 0}}));
}

// One worker: all in a row. Two: a, b; then c and d; e after c, d last. A
// replay of the predicted schedule is that schedule again.
TEST(ReplayTest, PredictedEndForWorkerCountsAndAReplayOfItIsExact) {
  const std::pair<int, double> cases[] = {{1, 105}, {2, 60}, {4, 40}, {8, 40}};
  for (const auto& [workers, endMs] : cases) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    ReplayResult r = ReplayOn(FiveAtOnce(), workers), again = ReplayOn(r.predicted, workers);
    Micros end = 0;
    std::set<int> busy;  // the workers the prediction names: as many as ran at once
    for (size_t i = 0; i < r.predicted.nodes.size(); ++i) {
      const RecordNode &n = r.predicted.nodes[i], &m = again.predicted.nodes[i];
      end = std::max(end, n.ended);
      if (!n.barrier) busy.insert(n.worker);
      EXPECT_EQ(std::tie(m.started, m.ended, m.worker), std::tie(n.started, n.ended, n.worker))
          << n.name;
    }
    EXPECT_EQ(end, Ms(endMs));
    EXPECT_EQ(busy.size(), static_cast<size_t>(std::min(workers, 4)));
    EXPECT_TRUE(r.neverReady.empty());
  }
}

TEST(ReplayTest, UrgencyClassThenDepthThenQueueOrder) {
  // One worker, four plugins ready at once: "deep" (two above it) first,
  // then queue order; "daemon", of class 3, last although as deep as "deep".
  BootRecord r = Parse(
      RecordJson({{"first", {}, 0, 0, 1, 0},
                  {"second", {}, 0, 1, 2, 0},
                  {"deep", {}, 0, 2, 3, 0},
                  NodeRow{"daemon", {}, 0, 3, 4, 0, "succeeded", "daemon", 3},
                  {"top", {"deep-done"}, 3, 4, 5, 0},
                  {"after-daemon", {"daemon-done"}, 4, 5, 6, 0}},
                 {{"deep-done", {"deep"}, 3, 3, 3, 0}, {"daemon-done", {"daemon"}, 4, 4, 4, 0}}));
  ReplayResult res = ReplayOn(r, 1);
  std::map<Micros, std::string> order;
  for (const RecordNode& n : res.predicted.nodes)
    if (!n.barrier) order[n.started] = n.name;
  std::vector<std::string> names;
  for (auto& o : order) names.push_back(o.second);
  EXPECT_EQ(names,
            (std::vector<std::string>{"deep", "first", "second", "top", "daemon", "after-daemon"}));
}

TEST(ReplayTest, SkippedPluginsCountAsEndedAndOverridesChangeDurations) {
  BootRecord r =
      Parse(RecordJson({{"skipped", {}}, {"a", {}, 0, 0, 10, 0}, {"b", {"gate"}, 10, 10, 30, 0}},
                       {{"gate", {"skipped", "a"}, 10, 10, 10, 0}}));
  ReplayResult same = ReplayOn(r, 1);
  EXPECT_EQ(Node(same, "b").ended, Ms(30));
  EXPECT_FALSE(Node(same, "skipped").Ran());
  ReplayResult faster = ReplayOn(r, 1, {{"a", 2000}});
  EXPECT_EQ(Node(faster, "b").started, Ms(2));
  EXPECT_EQ(Node(faster, "b").ended, Ms(22));
  EXPECT_EQ(faster.predicted.end - r.end, -8000);
  // A plugin that did not run has no duration to change.
  ReplayOptions skippedOverride;
  skippedOverride.durations = {{"skipped", 5}};
  EXPECT_THROW(Replay(BootGraph(r), skippedOverride), std::invalid_argument);
}

TEST(ReplayTest, DispatchCostIsTheMedianLagOfIdleWorkers) {
  // Lags of an idle worker 0: 0.3, 0.1, 0.2 ms; e waited for a busy worker.
  BootRecord r = Parse(RecordJson(
      {{"a", {}, 0, 0, 10, 0},
       {"b", {"ga"}, 10, 10.3, 20, 0},
       {"c", {"gb"}, 20, 20.1, 30, 0},
       {"d", {"gc"}, 30, 30.2, 40, 0},
       {"e", {"gc"}, 30, 40.5, 41, 0}},
      {{"ga", {"a"}, 10, 10, 10}, {"gb", {"b"}, 20, 20, 20}, {"gc", {"c"}, 30, 30, 30}}, 2));
  BootGraph g(r);
  EXPECT_EQ(MeasuredDispatchCost(g), 200);
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
