// The chain of priority barriers that orders init-script daemons.
//
// Priority levels are process-wide: the chain test needs a process in which
// no other test created a level of 30 or below (levels above 30 only add
// dependents to the barrier of 30, which the test does not look at).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph/barrier.h"
#include "graph/executor.h"
#include "graph/graph_lock.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using testing::Keep;
using testing::RecordingPlugin;
using testing::RunRecord;
using testing::ScratchHostRoot;

constexpr uint32_t kDaemonClass = 3;

std::vector<Node*> Nodes(std::initializer_list<Node*> nodes) { return nodes; }

std::vector<uint32_t> LevelsUpTo30() {
  std::vector<uint32_t> low;
  for (uint32_t level : PriorityLevels()) {
    if (level <= 30) low.push_back(level);
  }
  return low;
}

TEST(PriorityChain, LevelsInsertedOutOfOrderChainEveryDaemon) {
  ASSERT_TRUE(LevelsUpTo30().empty()) << "another test created low priority levels";
  ScratchHostRoot root;
  RunRecord record;
  auto daemon = [&](uint32_t priority, const std::string& name) {
    auto* plugin = Keep(new RecordingPlugin(name, &record, kDaemonClass));
    GraphLockHolder lock;
    GetPriorityBarrier(priority)->AddToPriorityChain(plugin);
    return plugin;
  };
  RecordingPlugin* d20 = daemon(20, "d20");
  RecordingPlugin* d10 = daemon(10, "d10");
  RecordingPlugin* d30 = daemon(30, "d30");
  PriorityBarrier* b10 = GetPriorityBarrier(10);
  PriorityBarrier* b20 = GetPriorityBarrier(20);
  PriorityBarrier* b30 = GetPriorityBarrier(30);

  EXPECT_EQ(LevelsUpTo30(), (std::vector<uint32_t>{10, 20, 30}));
  EXPECT_EQ(b20->Name(), "_<->_priority_<->_20");
  EXPECT_EQ(GetBarrier("_<->_priority_<->_20", false), b20);
  GraphLock::Lock();
  // Barrier chain 30 -> 20 -> 10.
  EXPECT_EQ(b30->Dependencies(), Nodes({b20, d30}));
  EXPECT_EQ(b20->Dependencies(), Nodes({d20, b10}));
  EXPECT_EQ(b10->Dependencies(), Nodes({d10}));
  // A daemon of 20 waits for the barrier of 10; the barrier of 20 for it.
  EXPECT_EQ(d20->Dependencies(), Nodes({b10}));
  EXPECT_EQ(d20->Dependents(), Nodes({b20}));
  // A daemon of the lowest level waits for nothing.
  EXPECT_TRUE(d10->Dependencies().empty());
  EXPECT_EQ(d10->Dependents(), Nodes({b10}));
  EXPECT_EQ(d30->Dependencies(), Nodes({b20}));
  GraphLock::Unlock();

  // A level between 10 and 20: the daemons of 20 and the barrier of 20 now
  // also wait for it; their edges to the barrier of 10 stay.
  RecordingPlugin* d15 = daemon(15, "d15");
  PriorityBarrier* b15 = GetPriorityBarrier(15);
  // Barrier 20's cached position is stale now; a new daemon of 20 must still
  // land behind 15.
  RecordingPlugin* d20b = daemon(20, "d20b");
  EXPECT_EQ(LevelsUpTo30(), (std::vector<uint32_t>{10, 15, 20, 30}));
  GraphLock::Lock();
  EXPECT_EQ(b15->Dependencies(), Nodes({b10, d15}));
  EXPECT_EQ(b15->Dependents(), Nodes({d20, b20, d20b}));
  EXPECT_EQ(d20->Dependencies(), Nodes({b10, b15}));
  EXPECT_EQ(b20->Dependencies(), Nodes({d20, b10, b15, d20b}));
  EXPECT_EQ(d20b->Dependencies(), Nodes({b15}));
  EXPECT_EQ(d15->Dependencies(), Nodes({b10}));
  GraphLock::Unlock();

  // Run on several workers: whole priority levels finish in order.
  {
    Executor executor(4, true);
    StartRun({d30, d20b, d15, d20, d10}, &executor);
  }
  auto before = [](RecordingPlugin* a, RecordingPlugin* b) {
    return a->started.end < b->started.begin;
  };
  EXPECT_TRUE(before(d10, d15));
  EXPECT_TRUE(before(d15, d20));
  EXPECT_TRUE(before(d15, d20b));
  EXPECT_TRUE(before(d20, d30));
  EXPECT_TRUE(before(d20b, d30));
  EXPECT_EQ(b30->State(), NodeState::Idle);  // nothing waits for the top barrier
  EXPECT_EQ(b20->State(), NodeState::Started);
}

TEST(PriorityChain, DotAttributesOfTheThreeKinds) {
  RunRecord record;
  RecordingPlugin plugin("plain", &record);
  InitBarrier barrier("box");
  EXPECT_EQ(plugin.DotAttributes(), "");
  EXPECT_EQ(barrier.DotAttributes(), " shape=box");
  EXPECT_EQ(GetPriorityBarrier(1000)->DotAttributes(), " shape=trapezium");
}

}  // namespace
}  // namespace bootcrank
