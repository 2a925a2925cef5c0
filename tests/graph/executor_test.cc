// The executor's choice of the next node, its worker pool, and random graphs
// run on pools of several sizes.

#include "graph/executor.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <random>

#include "base/exception.h"
#include "support/thrown.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using namespace testing;  // NOLINT: the fixtures
using Names = std::vector<std::string>;

// Queues nodes named "<letter><class>.<depth>" into a worker-less executor
// (the depth from a chain of dependents the start walk never reaches) and
// returns them in selection order.
Names Drain(bool randomize) {
  TestGraph g;
  Executor executor(0, randomize);
  const char* queue[] = {"a1.2", "b3.9", "c1.5", "d1.2", "e1.5", "f3.9", "g3.1"};
  for (std::string name : queue) {
    RecordingNode* queued = g.Add(name, {}, name[1] - '0');
    for (int i = 0; i < std::stoi(name.substr(3)); ++i) g.Add(name + "+", {g.nodes.back()});
    queued->ScheduleStart(&executor);
  }
  GraphLockHolder lock;
  Names order;
  for (size_t i = 0; i < std::size(queue); ++i) order.push_back(executor.SelectNext()->Name());
  return order;
}

TEST(SelectNext, ClassThenDepthThenQueueOrderRandomizedOnlyAmongTies) {
  const Names urgency = {"c1.5", "e1.5", "a1.2", "d1.2", "b3.9", "f3.9", "g3.1"};
  EXPECT_EQ(Drain(false), urgency);
  int flips = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    srand(seed);
    Names order = Drain(true);
    flips += order[0] == "e1.5";
    for (int tie : {0, 2, 4}) std::sort(order.begin() + tie, order.begin() + tie + 2);
    EXPECT_EQ(order, urgency) << "seed " << seed;
  }
  EXPECT_TRUE(flips > 0 && flips < 40) << flips;  // the draw decides
}

// Starts real threads, failing the call numbered `failAt` (1-based; 0:
// never), and counts the workers that have returned.
struct CountingStarter {
  using Job = std::function<void()>;
  int failAt = 0, calls = 0;
  std::atomic<int> returned{0};
  Executor::ThreadStarter Starter() {
    return [this](pthread_t* thread, void* (*routine)(void*), void* arg) {
      if (++calls == failAt) return EAGAIN;
      auto run = [](void* job) -> void* {
        return (*std::unique_ptr<Job>(static_cast<Job*>(job)))(), nullptr;
      };
      Job* job = new Job([=] { routine(arg), ++returned; });
      int rc = pthread_create(thread, nullptr, run, job);
      if (rc != 0) delete job;
      return rc;
    };
  }
};

TEST(WorkerPool, FailedThreadCreationJoinsTheCreatedWorkers) {
  CountingStarter failing, idle;
  failing.failAt = 4;
  EXPECT_EQ(Thrown<Exception>([&] { Executor executor(8, false, failing.Starter()); }),
            "Could not create enough execution threads. (3 created, 8requested)");
  EXPECT_EQ(failing.returned, 3);
  { Executor executor(4, false, idle.Starter()); }
  EXPECT_EQ(idle.returned, 4);
}

// Seeded random DAGs (node i may depend on any earlier node, some of class
// 3) scheduled in shuffled order on pools of several sizes: every node runs
// once, after all of its dependencies.
TEST(ExecutorStress, RandomGraphsRunEachNodeOnceAfterItsDependencies) {
  for (uint32_t run = 0; run < 320; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    std::mt19937 random(run);
    TestGraph g;
    for (size_t i = 0, count = 20 + random() % 100; i < count; ++i) {
      g.Add("n" + std::to_string(i), {}, random() % 5 ? 1 : 3);
      for (size_t e = 0, edges = i == 0 ? 0 : random() % 4; e < edges; ++e) {
        g.nodes[i]->AddDependency(g.nodes[random() % i]);
      }
    }
    std::vector<RecordingNode*> shuffled = g.nodes;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    srand(run);
    {
      Executor executor(1 << (run % 4), run / 4 % 2);  // 1 to 8 workers, randomized or not
      for (RecordingNode* node : shuffled) node->ScheduleStart(&executor);
      for (RecordingNode* node : shuffled) node->WaitStarted();
    }
    GraphLockHolder lock;
    for (RecordingNode* node : g.nodes) {
      ASSERT_EQ(node->started.runs, 1) << node->Name();
      for (Node* dependency : node->Dependencies()) {
        ASSERT_LT(static_cast<RecordingNode*>(dependency)->started.end, node->started.begin)
            << dependency->Name() << " before " << node->Name();
      }
    }
  }
}

}  // namespace
}  // namespace bootcrank
