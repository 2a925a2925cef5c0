// The executor's choice of the next node, its worker pool's life cycle and
// its failure to start threads.

#include "graph/executor.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "graph/graph_lock.h"
#include "graph/node.h"
#include "plugins/exception.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using testing::RecordingNode;
using testing::RunRecord;

// Ready nodes with a chosen class and scheduling depth. A node's depth comes
// from a chain of idle nodes above it (start runs) or below it (stop runs),
// which the walks never reach.
class ReadyNodes {
 public:
  explicit ReadyNodes(bool stopRun = false) : stopRun_(stopRun) {}

  // Queues a new node into `executor` through the graph's own walk.
  RecordingNode* Queue(Executor* executor, const std::string& name,
                       uint32_t executionClass, int32_t depth) {
    RecordingNode* node = Make(name, executionClass);
    RecordingNode* end = node;
    for (int32_t i = 0; i < depth; ++i) {
      RecordingNode* next = Make(name + "+" + std::to_string(i), 1);
      if (stopRun_) {
        end->AddDependency(next);
      } else {
        end->AddDependent(next);
      }
      end = next;
    }
    if (stopRun_) {
      node->ScheduleStop(executor);
    } else {
      node->ScheduleStart(executor);
    }
    return node;
  }
  RunRecord record;

 private:
  RecordingNode* Make(const std::string& name, uint32_t executionClass) {
    nodes_.push_back(std::make_unique<RecordingNode>(name, &record, executionClass));
    return nodes_.back().get();
  }
  bool stopRun_;
  std::vector<std::unique_ptr<RecordingNode>> nodes_;
};

// Takes every queued node from a worker-less executor, in selection order.
std::vector<std::string> Drain(Executor* executor, size_t count) {
  GraphLockHolder lock;
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) names.push_back(executor->SelectNext()->Name());
  return names;
}

TEST(SelectNext, ClassThenDepthThenQueueOrder) {
  ReadyNodes ready;
  Executor executor(0, false);
  ready.Queue(&executor, "a-c1-d2", 1, 2);
  ready.Queue(&executor, "b-c3-d9", 3, 9);
  ready.Queue(&executor, "c-c1-d5", 1, 5);
  ready.Queue(&executor, "d-c1-d2", 1, 2);
  ready.Queue(&executor, "e-c1-d5", 1, 5);
  ready.Queue(&executor, "f-c3-d9", 3, 9);
  ready.Queue(&executor, "g-c3-d1", 3, 1);
  EXPECT_EQ(Drain(&executor, 7),
            (std::vector<std::string>{"c-c1-d5", "e-c1-d5", "a-c1-d2", "d-c1-d2",
                                      "b-c3-d9", "f-c3-d9", "g-c3-d1"}));
}

TEST(SelectNext, StopRunsRankByDependencyDepth) {
  ReadyNodes ready(/*stopRun=*/true);
  Executor executor(0, false);
  ready.Queue(&executor, "shallow", 1, 1);
  ready.Queue(&executor, "deep", 1, 4);
  ready.Queue(&executor, "flat", 1, 0);
  EXPECT_EQ(Drain(&executor, 3), (std::vector<std::string>{"deep", "shallow", "flat"}));
}

TEST(SelectNext, NodesQueuedWhileOthersWaitKeepTheirRank) {
  ReadyNodes ready;
  Executor executor(0, false);
  ready.Queue(&executor, "first", 1, 3);
  ready.Queue(&executor, "second", 1, 1);
  EXPECT_EQ(Drain(&executor, 1), std::vector<std::string>{"first"});
  ready.Queue(&executor, "late-deep", 1, 2);
  ready.Queue(&executor, "late-shallow", 1, 1);
  EXPECT_EQ(Drain(&executor, 3),
            (std::vector<std::string>{"late-deep", "second", "late-shallow"}));
}

// The same queue as above drawn with randomize: each pick takes one rand()
// draw modulo the size of the most urgent tie, among the tied nodes in queue
// order. Reference: the groups of equally urgent nodes, most urgent first.
std::vector<std::string> ExpectedRandomOrder(unsigned seed) {
  std::vector<std::vector<std::string>> groups = {
      {"c-c1-d5", "e-c1-d5"}, {"a-c1-d2", "d-c1-d2"}, {"b-c3-d9", "f-c3-d9"}, {"g-c3-d1"}};
  srand(seed);
  std::vector<std::string> order;
  for (auto& group : groups) {
    while (!group.empty()) {
      size_t pick = static_cast<size_t>(rand()) % group.size();
      order.push_back(group[pick]);
      group.erase(group.begin() + static_cast<long>(pick));
    }
  }
  return order;
}

TEST(SelectNext, RandomizeDrawsOnlyAmongTheMostUrgentTie) {
  int tieFlips = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    ReadyNodes ready;
    Executor executor(0, true);
    ready.Queue(&executor, "a-c1-d2", 1, 2);
    ready.Queue(&executor, "b-c3-d9", 3, 9);
    ready.Queue(&executor, "c-c1-d5", 1, 5);
    ready.Queue(&executor, "d-c1-d2", 1, 2);
    ready.Queue(&executor, "e-c1-d5", 1, 5);
    ready.Queue(&executor, "f-c3-d9", 3, 9);
    ready.Queue(&executor, "g-c3-d1", 3, 1);
    std::vector<std::string> expected = ExpectedRandomOrder(seed);
    srand(seed);
    EXPECT_EQ(Drain(&executor, 7), expected) << "seed " << seed;
    if (expected[0] == "e-c1-d5") ++tieFlips;
  }
  // The draw decides: both members of the first tie come first sometimes.
  EXPECT_GT(tieFlips, 0);
  EXPECT_LT(tieFlips, 40);
}

TEST(SelectNext, RandomizeWithOneCandidateStillDrawsOnce) {
  ReadyNodes ready;
  Executor executor(0, true);
  ready.Queue(&executor, "only", 1, 0);
  srand(7);
  rand();
  int second = rand();
  srand(7);
  EXPECT_EQ(Drain(&executor, 1), std::vector<std::string>{"only"});
  EXPECT_EQ(rand(), second);
}

TEST(SerialRun, OneWorkerRunsInUrgencyOrder) {
  ReadyNodes ready;
  Executor executor(1, false);
  RecordingNode* last;
  {
    // Queue everything before the worker may look at the queue.
    GraphLockHolder lock;
    last = ready.Queue(&executor, "daemon-c3-d9", 3, 9);
    ready.Queue(&executor, "plain-c1-d0", 1, 0);
    ready.Queue(&executor, "deep-c1-d2", 1, 2);
  }
  last->WaitStarted();
  EXPECT_EQ(ready.record.Order(),
            (std::vector<std::string>{"deep-c1-d2", "plain-c1-d0", "daemon-c3-d9"}));
}

// Starts real threads, counts the calls and the workers that have returned,
// and fails the call numbered `failAt` (1-based; 0: never).
class CountingStarter {
 public:
  explicit CountingStarter(int failAt = 0) : failAt_(failAt) {}

  Executor::ThreadStarter Starter() {
    return [this](pthread_t* thread, void* (*routine)(void*), void* arg) {
      if (++calls == failAt_) return EAGAIN;
      auto* job = new Job{this, routine, arg};
      int rc = pthread_create(thread, nullptr, &CountingStarter::Run, job);
      if (rc != 0) delete job;
      return rc;
    };
  }

  std::atomic<int> calls{0};
  std::atomic<int> returned{0};

 private:
  struct Job {
    CountingStarter* starter;
    void* (*routine)(void*);
    void* arg;
  };
  static void* Run(void* arg) {
    std::unique_ptr<Job> job(static_cast<Job*>(arg));
    void* result = job->routine(job->arg);
    ++job->starter->returned;
    return result;
  }
  int failAt_;
};

TEST(WorkerPool, FailedThreadCreationJoinsTheCreatedWorkers) {
  CountingStarter starter(/*failAt=*/4);
  try {
    Executor executor(8, false, starter.Starter());
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Could not create enough execution threads. (3 created, 8requested)");
  }
  EXPECT_EQ(starter.calls, 4);
  EXPECT_EQ(starter.returned, 3);  // stopped and joined before the throw

  CountingStarter first(/*failAt=*/1);
  EXPECT_THROW(
      {
        try {
          Executor executor(2, true, first.Starter());
        } catch (const Exception& e) {
          EXPECT_STREQ(e.what(),
                       "Could not create enough execution threads. (0 created, 2requested)");
          throw;
        }
      },
      Exception);
  EXPECT_EQ(first.returned, 0);
}

TEST(WorkerPool, DestructionStopsIdleAndFinishedWorkers) {
  CountingStarter idle;
  { Executor executor(4, false, idle.Starter()); }
  EXPECT_EQ(idle.calls, 4);
  EXPECT_EQ(idle.returned, 4);

  CountingStarter busy;
  ReadyNodes ready;
  {
    Executor executor(3, true, busy.Starter());
    RecordingNode* node = ready.Queue(&executor, "ran", 1, 0);
    node->WaitStarted();
  }
  EXPECT_EQ(busy.returned, 3);
}

TEST(WorkerPool, WithoutWorkersQueuedNodesNeverRun) {
  for (int32_t count : {0, -3}) {
    CountingStarter none;
    ReadyNodes ready;
    RecordingNode* node;
    {
      Executor executor(count, false, none.Starter());
      node = ready.Queue(&executor, "stranded", 1, 0);
    }
    EXPECT_EQ(none.calls, 0);
    EXPECT_EQ(node->State(), NodeState::StartQueued);
    EXPECT_EQ(node->started.runs, 0);
  }
}

}  // namespace
}  // namespace bootcrank
