// The graph a record describes and the critical chain through it.
#include "analyze/critical_chain.h"

#include <gtest/gtest.h>

#include "analyze/chain_view.h"
#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::kNotRun;
using testing::Parse;
using testing::RecordJson;
using testing::NodeRow;

std::vector<std::string> Names(const BootGraph& g, const CriticalChain& c) { return ChainNames(g, c); }

TEST(BootGraphTest, AfterNamesBarriersForPluginsAndPluginsForBarriers) {
  // The plugin "net" provides the barrier "net": the names collide.
  BootRecord r = Parse(RecordJson({{"storage", {}, 0, 0, 10}, {"net", {"storage"}, 10, 10, 30}},
                                  {{"storage", {"storage"}, 10, 10, 10}, {"net", {"net"}, 30, 30, 30}}));
  BootGraph g(r);
  ASSERT_EQ(g.Size(), 4u);
  // plugin net (1) waits for the barrier storage (2), not the plugin.
  EXPECT_EQ(g.Dependencies(1), std::vector<size_t>{2});
  // barrier storage (2) waits for the plugin storage (0); barrier net (3) for plugin net (1).
  EXPECT_EQ(g.Dependencies(2), std::vector<size_t>{0});
  EXPECT_EQ(g.Dependencies(3), std::vector<size_t>{1});
  EXPECT_EQ(g.Dependents(0), std::vector<size_t>{2});
  EXPECT_TRUE(g.Unresolved().empty());
  // Depth: the longest chain of dependents above.
  EXPECT_EQ(g.DependentDepth(0), 3);
  EXPECT_EQ(g.DependentDepth(3), 0);
}

TEST(BootGraphTest, UnknownNamesAndCyclesDoNotHang) {
  BootRecord r = Parse(RecordJson({{"a", {"ghost", "b"}, 0, 0, 1}, {"b", {"a"}, 1, 1, 2}}));
  BootGraph g(r);
  EXPECT_EQ(g.Unresolved(), std::vector<std::string>{"a -> ghost"});
  CriticalChain c = ChainToEnd(g);
  EXPECT_EQ(Names(g, c), (std::vector<std::string>{"a", "b"}));
}

TEST(BootGraphTest, DepthOfALongChainNeedsNoDeepStack) {
  std::vector<NodeRow> plugins;
  for (int i = 0; i < 100000; ++i)
    plugins.push_back({"p" + std::to_string(i), i ? std::vector<std::string>{"p" + std::to_string(i - 1)}
                                                  : std::vector<std::string>{}, double(i), double(i), i + 1.0});
  BootRecord r = Parse(RecordJson(plugins));
  BootGraph g(r);
  EXPECT_EQ(g.DependentDepth(0), 99999);
  EXPECT_EQ(ChainToEnd(g).links.size(), 100000u);
}

// The chain follows the dependency that ended last, and splits each link's
// time into dependency wait, worker wait and run.
TEST(CriticalChainTest, FollowsTheLastEndedDependencyAndSeparatesTheWaits) {
  // Two workers. slow and quick both feed the barrier ready; late waits
  // for it but its worker is busy with filler until 90 ms.
  BootRecord r = Parse(RecordJson(
      {{"slow", {}, 5, 5, 50, 0},
       {"quick", {}, 5, 5, 20, 1},
       {"filler", {}, 5, 20, 90, 1},
       {"late", {"ready"}, 50, 90, 100, 1}},
      {{"ready", {"slow", "quick"}, 50, 50, 50, 0}}, 2, 110));
  BootGraph g(r);
  CriticalChain c = ChainToEnd(g);
  ASSERT_EQ(Names(g, c), (std::vector<std::string>{"slow", "ready", "late"}));
  EXPECT_EQ(c.runStart, testing::Ms(5));
  struct Want {
    Micros dependencyWait, workerWait, run;
  };
  const Want want[] = {{0, 0, 45000}, {0, 0, 0}, {0, 40000, 10000}};
  Micros total = c.runStart;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(c.links[i].dependencyWait, want[i].dependencyWait) << i;
    EXPECT_EQ(c.links[i].workerWait, want[i].workerWait) << i;
    EXPECT_EQ(c.links[i].run, want[i].run) << i;
    total += c.links[i].dependencyWait + c.links[i].workerWait + c.links[i].run;
  }
  EXPECT_EQ(total, testing::Ms(100));  // the parts add up to the last end
  // The chain to a plugin's start ends with that plugin.
  CriticalChain toQuick = ChainTo(g, 1);
  EXPECT_EQ(Names(g, toQuick), std::vector<std::string>{"quick"});
}

TEST(CriticalChainTest, SkippedDependenciesAreNotLinks) {
  // firstboot was skipped: it counts as finished and is never the reason.
  BootRecord r = Parse(RecordJson({{"firstboot", {}}, {"a", {}, 0, 0, 5}, {"b", {"done"}, 5, 5, 8}},
                                  {{"done", {"firstboot", "a"}, 5, 5, 5}}));
  BootGraph g(r);
  EXPECT_EQ(Names(g, ChainToEnd(g)), (std::vector<std::string>{"a", "done", "b"}));
  EXPECT_TRUE(ChainTo(g, 0).links.empty());
}

TEST(CriticalChainTest, JsonOffsetsCountFromTheBootStart) {
  BootRecord r = Parse(RecordJson({{"a", {}, 10, 12, 20, 0}}, {}, 1, 25));
  BootGraph g(r);
  nlohmann::json j = ChainJson(g, ChainToEnd(g));
  EXPECT_EQ(j["target"], "a");
  EXPECT_EQ(j["run_start"], 10000);
  EXPECT_EQ(j["end"], 25000);
  ASSERT_EQ(j["links"].size(), 1u);
  EXPECT_EQ(j["links"][0]["ready"], 10000);
  EXPECT_EQ(j["links"][0]["worker_wait"], 2000);
  EXPECT_EQ(j["links"][0]["run"], 8000);
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
