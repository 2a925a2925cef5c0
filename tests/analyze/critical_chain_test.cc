// The graph a record describes and the critical chain through it.
#include "analyze/critical_chain.h"

#include <gtest/gtest.h>

#include "analyze/chain_view.h"
#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::NodeRow;
using testing::Parse;
using testing::RecordJson;
using Names = std::vector<std::string>;

TEST(BootGraphTest, AfterNamesBarriersForPluginsAndPluginsForBarriers) {
  // The plugin "net" provides the barrier "net": the names collide.
  BootRecord r =
      Parse(RecordJson({{"storage", {}, 0, 0, 10}, {"net", {"storage"}, 10, 10, 30}},
                       {{"storage", {"storage"}, 10, 10, 10}, {"net", {"net"}, 30, 30, 30}}));
  BootGraph g(r);
  ASSERT_EQ(g.Size(), 4u);
  EXPECT_EQ(g.Dependencies(1), std::vector<size_t>{2});  // plugin net waits for barrier storage
  EXPECT_EQ(g.Dependencies(2), std::vector<size_t>{0});
  EXPECT_EQ(g.Dependencies(3), std::vector<size_t>{1});
  EXPECT_EQ(g.Dependents(0), std::vector<size_t>{2});
  EXPECT_EQ(g.DependentDepth(0), 3);
  EXPECT_EQ(g.DependentDepth(3), 0);
  // Unknown names are reported; a cycle does not hang.
  BootRecord bad = Parse(RecordJson({{"a", {"ghost", "b"}, 0, 0, 1}, {"b", {"a"}, 1, 1, 2}}));
  BootGraph cyclic(bad);
  EXPECT_EQ(cyclic.Unresolved(), Names{"a -> ghost"});
  EXPECT_EQ(ChainNames(cyclic, ChainToEnd(cyclic)), (Names{"a", "b"}));
}

TEST(BootGraphTest, DepthOfALongChainNeedsNoDeepStack) {
  std::vector<NodeRow> plugins;
  for (int i = 0; i < 100000; ++i)
    plugins.push_back({"p" + std::to_string(i), i ? Names{"p" + std::to_string(i - 1)} : Names{},
                       double(i), double(i), i + 1.0});
  BootRecord r = Parse(RecordJson(plugins));
  BootGraph g(r);
  EXPECT_EQ(g.DependentDepth(0), 99999);
  EXPECT_EQ(ChainToEnd(g).links.size(), 100000u);
}

// The chain follows the dependency that ended last (a skipped one never),
// and splits each link's time into dependency wait, worker wait and run.
TEST(CriticalChainTest, FollowsTheLastEndedDependencyAndSeparatesTheWaits) {
  // Two workers; late waits for the barrier ready, then for its worker,
  // busy with filler until 90 ms.
  BootRecord r =
      Parse(RecordJson({{"slow", {}, 5, 5, 50, 0},
                        {"quick", {}, 5, 5, 20, 1},
                        {"filler", {}, 5, 20, 90, 1},
                        {"late", {"ready"}, 50, 90, 100, 1},
                        {"firstboot", {}}},
                       {{"ready", {"slow", "quick", "firstboot"}, 50, 50, 50, 0}}, 2, 110));
  BootGraph g(r);
  CriticalChain c = ChainToEnd(g);
  ASSERT_EQ(ChainNames(g, c), (Names{"slow", "ready", "late"}));
  EXPECT_EQ(c.runStart, testing::Ms(5));
  std::vector<Micros> waits;  // dependency, worker, run
  for (const ChainLink& l : c.links)
    waits.insert(waits.end(), {l.dependencyWait, l.workerWait, l.run});
  EXPECT_EQ(waits, (std::vector<Micros>{0, 0, 45000, 0, 0, 0, 0, 40000, 10000}));
  EXPECT_EQ(ChainNames(g, ChainTo(g, 1)), Names{"quick"});
  EXPECT_TRUE(ChainTo(g, 4).links.empty());  // firstboot did not run
  // JSON offsets count from the boot's start.
  nlohmann::json j = ChainJson(g, c), last = j["links"][2];
  EXPECT_EQ((std::vector<nlohmann::json>{j["target"], j["run_start"], j["end"], last["ready"],
                                         last["worker_wait"], last["run"]}),
            (std::vector<nlohmann::json>{"late", 5000, 110000, 50000, 40000, 10000}));
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
