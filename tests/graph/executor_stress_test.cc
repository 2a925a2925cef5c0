// Random dependency graphs run on worker pools of several sizes: every node
// runs exactly once and only after everything it waits for has finished.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "graph/executor.h"
#include "graph/node.h"
#include "support/log_capture.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using testing::Failure;
using testing::LogCapture;
using testing::RecordingNode;
using testing::RunRecord;

// A seeded random DAG: node i may depend on any earlier node; some nodes are
// of class 3, a few throw from their work.
struct RandomGraph {
  explicit RandomGraph(uint32_t seed) {
    std::mt19937 random(seed);
    size_t count = 20 + random() % 100;
    for (size_t i = 0; i < count; ++i) {
      uint32_t executionClass = random() % 5 == 0 ? 3 : 1;
      Failure failure = random() % 17 == 0 ? Failure::StdException : Failure::None;
      nodes.push_back(std::make_unique<RecordingNode>("n" + std::to_string(i), &record,
                                                      executionClass, failure));
      size_t edges = i == 0 ? 0 : random() % 4;
      for (size_t e = 0; e < edges; ++e) {
        nodes[i]->AddDependency(nodes[random() % i].get());  // may repeat an edge
      }
    }
    // Schedule in a shuffled order so the walks start anywhere.
    for (auto& node : nodes) scheduleOrder.push_back(node.get());
    std::shuffle(scheduleOrder.begin(), scheduleOrder.end(), random);
  }

  RunRecord record;
  std::vector<std::unique_ptr<RecordingNode>> nodes;
  std::vector<RecordingNode*> scheduleOrder;
};

void RunAndCheck(uint32_t seed, int32_t workers, bool randomize, bool stop) {
  SCOPED_TRACE("seed " + std::to_string(seed) + ", workers " + std::to_string(workers) +
               (randomize ? ", randomized" : "") + (stop ? ", stop run" : ", start run"));
  RandomGraph graph(seed);
  srand(seed);
  {
    Executor executor(workers, randomize);
    for (RecordingNode* node : graph.scheduleOrder) {
      if (stop) {
        node->ScheduleStop(&executor);
      } else {
        node->ScheduleStart(&executor);
      }
    }
    for (RecordingNode* node : graph.scheduleOrder) {
      if (stop) {
        node->WaitStopped();
      } else {
        node->WaitStarted();
      }
    }
  }
  for (auto& node : graph.nodes) {
    const testing::Stamps& mine = stop ? node->stopped : node->started;
    const testing::Stamps& other = stop ? node->started : node->stopped;
    ASSERT_EQ(mine.runs, 1) << node->Name();
    ASSERT_EQ(other.runs, 0) << node->Name();
    // A start waits for dependencies, a stop for dependents.
    for (Node* before : stop ? node->Dependents() : node->Dependencies()) {
      auto* earlier = static_cast<RecordingNode*>(before);
      const testing::Stamps& theirs = stop ? earlier->stopped : earlier->started;
      ASSERT_LT(theirs.end, mine.begin) << earlier->Name() << " before " << node->Name();
    }
  }
}

TEST(ExecutorStress, RandomGraphsRunEachNodeOnceInDependencyOrder) {
  LogCapture log;  // swallows the failing nodes' error records
  for (int32_t workers : {1, 2, 4, 8}) {
    for (bool randomize : {false, true}) {
      for (uint32_t seed = 1; seed <= 40; ++seed) {
        RunAndCheck(seed * 7919 + static_cast<uint32_t>(workers), workers, randomize, false);
        RunAndCheck(seed * 104729 + static_cast<uint32_t>(workers), workers, randomize, true);
        if (HasFatalFailure()) return;
      }
    }
  }
  EXPECT_FALSE(log.Messages("error").empty());
}

}  // namespace
}  // namespace bootcrank
