// The graph's walks, barriers and depths, run on a real executor.

#include "graph/node.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "graph/barrier.h"
#include "graph/executor.h"
#include "runcontrol/settings.h"
#include "support/log_capture.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using testing::Failure;
using testing::Keep;
using testing::LogCapture;
using testing::MissingProvider;
using testing::RecordingNode;
using testing::RecordingPlugin;
using testing::RunRecord;
using testing::ScratchHostRoot;
using testing::UniqueName;

// A graph of recording nodes owned by the test (no barriers involved).
class Graph {
 public:
  RecordingNode* Add(const std::string& name, uint32_t executionClass = 1,
                     Failure failure = Failure::None) {
    nodes_.push_back(
        std::make_unique<RecordingNode>(name, &record, executionClass, failure));
    return nodes_.back().get();
  }
  RunRecord record;

 private:
  std::vector<std::unique_ptr<RecordingNode>> nodes_;
};

TEST(Walks, ForwardWalkRunsDependenciesFirstAndOnlyWhatIsNeeded) {
  Graph g;
  RecordingNode* base = g.Add("base");
  RecordingNode* left = g.Add("left");
  RecordingNode* right = g.Add("right");
  RecordingNode* top = g.Add("top");
  RecordingNode* bystander = g.Add("bystander");  // depends on base, not scheduled
  left->AddDependency(base);
  right->AddDependency(base);
  top->AddDependency(left);
  top->AddDependency(right);
  bystander->AddDependency(base);

  Executor executor(1, false);
  top->ScheduleStart(&executor);
  top->WaitStarted();

  EXPECT_EQ(g.record.Order(), (std::vector<std::string>{"base", "left", "right", "top"}));
  EXPECT_EQ(bystander->State(), NodeState::Idle);
  EXPECT_EQ(bystander->started.runs, 0);
  for (RecordingNode* n : {base, left, right, top}) {
    EXPECT_EQ(n->State(), NodeState::Started) << n->Name();
    EXPECT_EQ(n->started.runs, 1) << n->Name();
  }
  // Scheduling a finished node again does nothing.
  top->ScheduleStart(&executor);
  base->ScheduleStart(&executor);
  top->WaitStarted();
  EXPECT_EQ(base->started.runs, 1);
}

TEST(Walks, ReverseWalkStopsDependentsFirst) {
  Graph g;
  RecordingNode* base = g.Add("base");
  RecordingNode* middle = g.Add("middle");
  RecordingNode* top = g.Add("top");
  RecordingNode* other = g.Add("other");  // a dependency of top, not below base
  middle->AddDependency(base);
  top->AddDependency(middle);
  top->AddDependency(other);

  Executor executor(2, false);
  base->ScheduleStop(&executor);
  base->WaitStopped();

  EXPECT_EQ(g.record.Order(), (std::vector<std::string>{"top", "middle", "base"}));
  EXPECT_EQ(other->State(), NodeState::Idle);
  EXPECT_EQ(top->State(), NodeState::Stopped);
  EXPECT_EQ(top->stopped.runs, 1);
  EXPECT_EQ(top->started.runs, 0);
}

TEST(Walks, StartAndStopRunOverPluginsInRunListOrder) {
  ScratchHostRoot root;
  RunRecord record;
  auto* provider = Keep(new RecordingPlugin(UniqueName("provider"), &record));
  auto* user = Keep(new RecordingPlugin(UniqueName("user"), &record));
  auto* loner = Keep(new RecordingPlugin(UniqueName("loner"), &record));
  InitBarrier* barrier = GetBarrier(UniqueName("net"), true);
  barrier->AddDependency(provider);  // provider provides it
  user->AddDependency(barrier);      // user requires it

  {
    Executor executor(3, false);
    StartRun({user, loner, provider}, &executor);
  }
  for (RecordingPlugin* p : {provider, user, loner}) {
    EXPECT_EQ(p->State(), NodeState::Started);
    EXPECT_EQ(p->started.runs, 1);
  }
  EXPECT_LT(provider->started.end, user->started.begin);
  EXPECT_EQ(barrier->State(), NodeState::Started);
  // Plugin activation reached the kernel log of the scratch root.
  EXPECT_NE(root.KernelLog().find("Bootcrank plugin " + user->Name() + " activated."),
            std::string::npos);

  RunRecord stopRecord;
  auto* daemonA = Keep(new RecordingPlugin(UniqueName("a"), &stopRecord, 3));
  auto* daemonB = Keep(new RecordingPlugin(UniqueName("b"), &stopRecord, 3));
  daemonB->AddDependency(daemonA);
  {
    Executor executor(2, false);
    StopRun({daemonA, daemonB}, &executor);
  }
  EXPECT_EQ(stopRecord.Order(), (std::vector<std::string>{daemonB->Name(), daemonA->Name()}));
  EXPECT_EQ(daemonA->State(), NodeState::Stopped);
}

// Blocks its start until the test opens the gate.
class GatedPlugin : public RecordingPlugin {
 public:
  using RecordingPlugin::RecordingPlugin;
  void Start() override {
    gate.get_future().wait();
    RecordingPlugin::Start();
  }
  std::promise<void> gate;
};

TEST(Barriers, BarrierProvidedByTwoPluginsWaitsForBoth) {
  ScratchHostRoot root;
  RunRecord record;
  auto* fast = Keep(new RecordingPlugin(UniqueName("fast"), &record));
  auto* slow = Keep(new GatedPlugin(UniqueName("slow"), &record));
  auto* user = Keep(new RecordingPlugin(UniqueName("user"), &record));
  InitBarrier* barrier = GetBarrier(UniqueName("storage"), true);
  barrier->AddDependency(fast);  // both provide it
  barrier->AddDependency(slow);
  user->AddDependency(barrier);

  Executor executor(4, false);
  user->ScheduleStart(&executor);
  fast->WaitStarted();
  // One provider done, the other held at its gate: the barrier must wait.
  EXPECT_EQ(barrier->State(), NodeState::StartPending);
  EXPECT_EQ(user->State(), NodeState::StartPending);
  EXPECT_EQ(user->started.runs, 0);

  slow->gate.set_value();
  user->WaitStarted();
  EXPECT_EQ(barrier->State(), NodeState::Started);
  EXPECT_LT(slow->started.end, user->started.begin);
  EXPECT_LT(fast->started.end, user->started.begin);
}

TEST(Barriers, MarkedStartedPluginCountsAsFinished) {
  ScratchHostRoot root;
  LogCapture log;
  RunRecord record;
  auto* filtered = Keep(new RecordingPlugin(UniqueName("filtered"), &record));
  auto* user = Keep(new RecordingPlugin(UniqueName("user"), &record));
  auto* direct = Keep(new RecordingPlugin(UniqueName("direct"), &record));
  InitBarrier* barrier = GetBarrier(UniqueName("provided-by-filtered"), true);
  barrier->AddDependency(filtered);
  user->AddDependency(barrier);
  direct->AddDependency(filtered);
  filtered->MarkStarted();
  EXPECT_EQ(filtered->State(), NodeState::Started);

  Executor executor(2, false);
  StartRun({user, direct}, &executor);

  EXPECT_EQ(filtered->started.runs, 0);
  EXPECT_EQ(user->started.runs, 1);
  EXPECT_EQ(direct->started.runs, 1);
  EXPECT_EQ(barrier->State(), NodeState::Started);
  // It has a provider, so no dependency error.
  EXPECT_TRUE(log.Messages("alert").empty());
  EXPECT_TRUE(log.Messages("warning").empty());
}

TEST(Barriers, MissingProviderReportedWithEveryRequiringPlugin) {
  ScratchHostRoot root;
  RunRecord record;
  Executor executor(2, false);

  // No dependents at all: the text ends with the blank after the colon.
  InitBarrier* lonely = GetBarrier(UniqueName("lonely"), true);
  {
    LogCapture log;
    lonely->ScheduleStart(&executor);
    lonely->WaitStarted();
    std::string expected = MissingProvider(lonely->Name(), {});
    EXPECT_EQ(log.Messages("warning"), std::vector<std::string>{expected});
    EXPECT_EQ(log.Messages("alert"), std::vector<std::string>{expected});
  }

  InitBarrier* single = GetBarrier(UniqueName("single"), true);
  auto* only = Keep(new RecordingPlugin(UniqueName("only"), &record));
  only->AddDependency(single);
  {
    LogCapture log;
    StartRun({only}, &executor);
    std::string expected = MissingProvider(single->Name(), {only->Name()});
    EXPECT_EQ(log.Messages("warning"), std::vector<std::string>{expected});
    EXPECT_EQ(log.Messages("alert"), std::vector<std::string>{expected});
    EXPECT_EQ(only->started.runs, 1);  // it runs anyway
  }

  InitBarrier* shared = GetBarrier(UniqueName("shared"), true);
  std::vector<Plugin*> users;
  std::vector<std::string> names;
  for (const char* suffix : {"first", "second", "third"}) {
    auto* p = Keep(new RecordingPlugin(UniqueName(suffix), &record));
    p->AddDependency(shared);
    users.push_back(p);
    names.push_back(p->Name());
  }
  {
    LogCapture log;
    StartRun(users, &executor);
    std::string expected = MissingProvider(shared->Name(), names);
    EXPECT_EQ(log.Messages("warning"), std::vector<std::string>{expected});
    EXPECT_EQ(log.Messages("alert"), std::vector<std::string>{expected});
  }
}

TEST(Barriers, MissingProviderRaisesNoAlertInInvokeRuns) {
  ScratchHostRoot root;
  RunRecord record;
  InitBarrier* missing = GetBarrier(UniqueName("missing"), true);
  auto* user = Keep(new RecordingPlugin(UniqueName("user"), &record));
  user->AddDependency(missing);

  Settings& settings = Settings::Instance();
  settings.invoke = true;
  LogCapture log;
  {
    Executor executor(1, false);
    StartRun({user}, &executor);
  }
  settings.invoke = false;
  EXPECT_EQ(log.Messages("warning"),
            std::vector<std::string>{MissingProvider(missing->Name(), {user->Name()})});
  EXPECT_TRUE(log.Messages("alert").empty());
}

TEST(Failures, EscapingExceptionsAreLoggedAndNodesStillComplete) {
  Graph g;
  RecordingNode* failsStd = g.Add("fails-std", 1, Failure::StdException);
  RecordingNode* failsOther = g.Add("fails-other", 1, Failure::OtherException);
  RecordingNode* after = g.Add("after");
  after->AddDependency(failsStd);
  after->AddDependency(failsOther);

  LogCapture log;
  {
    Executor executor(2, false);
    after->ScheduleStart(&executor);
    after->WaitStarted();
  }
  EXPECT_EQ(after->started.runs, 1);
  EXPECT_EQ(failsStd->State(), NodeState::Started);
  EXPECT_TRUE(log.Has("error", "Unhandled exception while activating fails-std: broken fails-std"));
  EXPECT_TRUE(log.Has("error", "Unhandled exception while activating fails-other: unknown exception"));

  Graph h;
  RecordingNode* base = h.Add("base");
  RecordingNode* failing = h.Add("failing-stop", 1, Failure::StdException);
  failing->AddDependency(base);
  {
    Executor executor(1, false);
    base->ScheduleStop(&executor);
    base->WaitStopped();
  }
  EXPECT_EQ(base->stopped.runs, 1);
  EXPECT_TRUE(log.Has("error",
                      "Unhandled exception while deactivating failing-stop: broken failing-stop"));
}

TEST(Depths, DiamondsCountTheLongestChain) {
  Graph g;
  RecordingNode* bottom = g.Add("bottom");
  RecordingNode* left = g.Add("left");
  RecordingNode* right = g.Add("right");
  RecordingNode* detour = g.Add("detour");
  RecordingNode* top = g.Add("top");
  left->AddDependency(bottom);
  right->AddDependency(bottom);
  detour->AddDependency(right);
  top->AddDependency(left);
  top->AddDependency(detour);

  EXPECT_EQ(bottom->DependencyDepth(), 0);
  EXPECT_EQ(left->DependencyDepth(), 1);
  EXPECT_EQ(detour->DependencyDepth(), 2);
  EXPECT_EQ(top->DependencyDepth(), 3);  // via detour, not left
  EXPECT_EQ(top->DependentDepth(), 0);
  EXPECT_EQ(left->DependentDepth(), 1);
  EXPECT_EQ(right->DependentDepth(), 2);
  EXPECT_EQ(bottom->DependentDepth(), 3);  // via right and detour

  // A new edge invalidates the cached depths of both ends.
  RecordingNode* under = g.Add("under");
  bottom->AddDependency(under);
  EXPECT_EQ(bottom->DependencyDepth(), 1);
  EXPECT_EQ(under->DependentDepth(), 4);
}

}  // namespace
}  // namespace bootcrank
