// The executor's choice of the next node, its worker pool, and random graphs
// run on pools of several sizes.

#include "graph/executor.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "plugins/exception.h"
#include "support/log_capture.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using namespace testing;  // NOLINT: the fixtures
using Names = std::vector<std::string>;

// Queues ready nodes named "<queue order><class>.<depth>" into a worker-less
// executor; each node's depth comes from a chain of dependents the start
// walk never reaches. Returns the names in selection order.
Names Drain(bool randomize) {
  RunRecord record;
  std::vector<std::unique_ptr<RecordingNode>> nodes;
  Executor executor(0, randomize);
  const std::pair<uint32_t, int> queue[] = {{1, 2}, {3, 9}, {1, 5}, {1, 2},
                                            {1, 5}, {3, 9}, {3, 1}};
  char letter = 'a';
  for (const auto& [executionClass, depth] : queue) {
    std::string name = std::string(1, letter++) + std::to_string(executionClass) +
                       "." + std::to_string(depth);
    nodes.push_back(std::make_unique<RecordingNode>(name, &record, executionClass));
    Node* queued = nodes.back().get();
    for (int i = 0; i < depth; ++i) {
      nodes.push_back(std::make_unique<RecordingNode>(name + "+", &record));
      nodes[nodes.size() - 2]->AddDependent(nodes.back().get());
    }
    queued->ScheduleStart(&executor);
  }
  GraphLockHolder lock;
  Names order;
  for (size_t i = 0; i < std::size(queue); ++i) order.push_back(executor.SelectNext()->Name());
  return order;
}

TEST(SelectNext, ClassThenDepthThenQueueOrder) {
  EXPECT_EQ(Drain(false), (Names{"c1.5", "e1.5", "a1.2", "d1.2", "b3.9", "f3.9", "g3.1"}));
}

// Each pick takes one rand() draw modulo the size of the most urgent tie,
// among the tied nodes in queue order.
TEST(SelectNext, RandomizeDrawsOnlyAmongTheMostUrgentTie) {
  int flips = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::vector<Names> ties = {{"c1.5", "e1.5"}, {"a1.2", "d1.2"}, {"b3.9", "f3.9"}, {"g3.1"}};
    srand(seed);
    Names expected;
    for (Names& tie : ties) {
      while (!tie.empty()) {
        size_t pick = static_cast<size_t>(rand()) % tie.size();
        expected.push_back(tie[pick]);
        tie.erase(tie.begin() + static_cast<long>(pick));
      }
    }
    srand(seed);
    EXPECT_EQ(Drain(true), expected) << "seed " << seed;
    flips += expected[0] == "e1.5";
  }
  EXPECT_GT(flips, 0);  // the draw decides
  EXPECT_LT(flips, 40);
}

// Starts real threads, failing the call numbered `failAt` (1-based; 0:
// never), and counts the workers that have returned.
struct CountingStarter {
  int failAt = 0;
  std::atomic<int> calls{0}, returned{0};
  struct Job {
    CountingStarter* starter;
    void* (*routine)(void*);
    void* arg;
  };
  Executor::ThreadStarter Starter() {
    return [this](pthread_t* thread, void* (*routine)(void*), void* arg) {
      if (++calls == failAt) return EAGAIN;
      auto* job = new Job{this, routine, arg};
      int rc = pthread_create(thread, nullptr, &CountingStarter::Run, job);
      if (rc != 0) delete job;
      return rc;
    };
  }
  static void* Run(void* arg) {
    std::unique_ptr<Job> job(static_cast<Job*>(arg));
    void* result = job->routine(job->arg);
    ++job->starter->returned;
    return result;
  }
};

TEST(WorkerPool, FailedThreadCreationJoinsTheCreatedWorkers) {
  CountingStarter starter;
  starter.failAt = 4;
  try {
    Executor executor(8, false, starter.Starter());
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Could not create enough execution threads. (3 created, 8requested)");
  }
  EXPECT_EQ(starter.returned, 3);
  CountingStarter idle;
  { Executor executor(4, false, idle.Starter()); }
  EXPECT_EQ(idle.returned, 4);
}

// Seeded random DAGs (node i may depend on any earlier node, some of class
// 3, a few throwing) scheduled in shuffled order: every node runs once,
// after all of its dependencies.
TEST(ExecutorStress, RandomGraphsRunEachNodeOnceAfterItsDependencies) {
  LogCapture log;  // the throwing nodes' error records
  for (int32_t workers : {1, 2, 4, 8}) {
    for (bool randomize : {false, true}) {
      for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(std::to_string(seed) + " " + std::to_string(workers) + " " + std::to_string(randomize));
        std::mt19937 random(seed * 7919 + static_cast<uint32_t>(workers));
        RunRecord record;
        std::vector<std::unique_ptr<RecordingNode>> nodes;
        std::vector<RecordingNode*> shuffled;
        for (size_t i = 0, count = 20 + random() % 100; i < count; ++i) {
          nodes.push_back(std::make_unique<RecordingNode>("n" + std::to_string(i), &record,
                                                          random() % 5 ? 1 : 3, random() % 17 == 0));
          for (size_t e = 0, edges = i == 0 ? 0 : random() % 4; e < edges; ++e) {
            nodes[i]->AddDependency(nodes[random() % i].get());
          }
          shuffled.push_back(nodes[i].get());
        }
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        srand(seed);
        {
          Executor executor(workers, randomize);
          for (RecordingNode* node : shuffled) node->ScheduleStart(&executor);
          for (RecordingNode* node : shuffled) node->WaitStarted();
        }
        for (auto& node : nodes) {
          ASSERT_EQ(node->started.runs, 1) << node->Name();
          for (Node* dependency : node->Dependencies()) {
            ASSERT_LT(static_cast<RecordingNode*>(dependency)->started.end, node->started.begin)
                << dependency->Name() << " before " << node->Name();
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace bootcrank
