// Chains far longer than any thread stack could recurse through: the walks,
// the depths and the cycle search must all be iterative.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "graph/cycles.h"
#include "graph/executor.h"
#include "graph/node.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using testing::RecordingNode;
using testing::RecordingPlugin;
using testing::RunRecord;
using testing::ScratchHostRoot;

constexpr int kLength = 100000;

// node[i] depends on node[i - 1].
std::vector<std::unique_ptr<RecordingNode>> Chain(RunRecord* record) {
  std::vector<std::unique_ptr<RecordingNode>> chain;
  chain.reserve(kLength);
  for (int i = 0; i < kLength; ++i) {
    chain.push_back(std::make_unique<RecordingNode>("c" + std::to_string(i), record));
    if (i > 0) chain[i]->AddDependency(chain[i - 1].get());
  }
  return chain;
}

TEST(DeepGraph, HundredThousandChainDepthsAndStartRun) {
  ScratchHostRoot root;
  RunRecord record;
  std::vector<std::unique_ptr<RecordingNode>> chain = Chain(&record);
  RecordingPlugin top("top-of-chain", &record);
  top.AddDependency(chain.back().get());

  EXPECT_EQ(chain.front()->DependentDepth(), kLength);
  EXPECT_EQ(top.DependencyDepth(), kLength);
  EXPECT_EQ(chain[kLength / 2]->DependencyDepth(), kLength / 2);

  BreakDependencyCycles({&top});  // finds nothing, overflows nothing
  {
    Executor executor(2, false);
    StartRun({&top}, &executor);
  }
  std::vector<std::string> order = record.Order();
  ASSERT_EQ(order.size(), static_cast<size_t>(kLength) + 1);
  EXPECT_EQ(order.front(), "c0");
  EXPECT_EQ(order[kLength - 1], "c" + std::to_string(kLength - 1));
  EXPECT_EQ(order.back(), "top-of-chain");
}

TEST(DeepGraph, HundredThousandChainStopRun) {
  RunRecord record;
  std::vector<std::unique_ptr<RecordingNode>> chain = Chain(&record);
  {
    Executor executor(2, true);
    chain.front()->ScheduleStop(&executor);
    chain.front()->WaitStopped();
  }
  std::vector<std::string> order = record.Order();
  ASSERT_EQ(order.size(), static_cast<size_t>(kLength));
  EXPECT_EQ(order.front(), "c" + std::to_string(kLength - 1));
  EXPECT_EQ(order.back(), "c0");
}

}  // namespace
}  // namespace bootcrank
