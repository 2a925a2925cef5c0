// The graph's walks, depths, barriers, priority chain, cycle breaking and
// dot lines, run on a real executor.

#include "graph/node.h"

#include <gtest/gtest.h>

#include <future>
#include <sstream>

#include "base/settings.h"
#include "graph/barrier.h"
#include "graph/cycles.h"
#include "graph/dependency_dump.h"
#include "graph/executor.h"
#include "support/log_capture.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using namespace testing;  // NOLINT: the fixtures
using Names = std::vector<std::string>;
using Nodes = std::vector<Node*>;

// One worker: the order follows the dependent depth (right before left).
TEST(Walks, DepthsAndTheStartWalk) {
  TestGraph g;
  RecordingNode* base = g.Add("base");
  RecordingNode* left = g.Add("left", {base});
  RecordingNode* right = g.Add("right", {base}, 1, /*fail=*/true);  // completes all the same
  RecordingNode* detour = g.Add("detour", {right});
  RecordingNode* top = g.Add("top", {left, detour});
  RecordingNode* bystander = g.Add("bystander", {base});  // not needed by top
  EXPECT_EQ(top->DependencyDepth(), 3);                   // via detour, not left
  EXPECT_EQ(base->DependentDepth(), 3);
  Executor executor(1, false);
  auto log = std::make_unique<LogCapture>();
  top->ScheduleStart(&executor);
  top->WaitStarted();
  EXPECT_TRUE(log->Has("error", "Unhandled exception while activating right: broken right"));
  log.reset();                    // before any failure is reported
  top->ScheduleStart(&executor);  // finished: nothing runs again
  base->ScheduleStart(&executor);
  EXPECT_EQ(g.record.order, (Names{"base", "right", "left", "detour", "top"}));
  EXPECT_EQ(bystander->State(), NodeState::Idle);
  RecordingNode* under = g.Add("under");  // the new edge's ends drop cached depths
  base->AddDependency(under);
  EXPECT_EQ(base->DependencyDepth(), 1);
  EXPECT_EQ(under->DependentDepth(), 4);
}

// Far longer than a thread stack could recurse through: the stop walk goes
// up from c0 and stops only what lies above it. The start walk over such a
// chain runs end to end (Scale.ChainOfAHundredThousandPluginsRunsToTheEnd).
TEST(Walks, HundredThousandChainDepthsAndStopWithoutRecursion) {
  constexpr int kLength = 100000;
  TestGraph g;
  for (int i = 0; i < kLength; ++i)
    g.Add("c" + std::to_string(i), i ? Nodes{g.nodes.back()} : Nodes{});
  RecordingNode* other = g.Add("other");  // below the top only
  g.nodes[kLength - 1]->AddDependency(other);
  EXPECT_EQ(g.nodes.front()->DependentDepth(), kLength - 1);
  EXPECT_EQ(g.nodes[kLength - 1]->DependencyDepth(), kLength - 1);
  Executor executor(2, true);
  g.nodes.front()->ScheduleStop(&executor);
  g.nodes.front()->WaitStopped();
  const Names& order = g.record.order;
  EXPECT_EQ(std::to_string(order.size()) + " " + order.front() + ".." + order.back(),
            "100000 c99999..c0");
  EXPECT_EQ(other->State(), NodeState::Idle);
}

// Holds its start until the test opens the gate.
struct GatedPlugin : RecordingPlugin {
  using RecordingPlugin::RecordingPlugin;
  void Start() override {
    gate.get_future().wait();
    RecordingPlugin::Start();
  }
  std::promise<void> gate;
};

// A barrier provided by two plugins waits for both; a third provider marked
// started counts as finished without running. Plugins, barriers and priority
// barriers each have their own shape in the dot dump.
TEST(Barriers, BarrierWaitsForEveryProviderAndDumpsAsABox) {
  ScratchHostRoot root;
  TestGraph g;
  auto *fast = g.AddPlugin("fast"), *marked = g.AddPlugin("marked"), *user = g.AddPlugin("user");
  auto* slow = g.AddPlugin<GatedPlugin>("slow");
  InitBarrier* barrier = g.graph.GetBarrier("storage", true);
  for (Node* provider : Nodes{fast, slow, marked}) barrier->AddDependency(provider);
  user->AddDependency(barrier);
  marked->MarkStarted();
  Executor executor(4, false);
  user->ScheduleStart(&executor);
  fast->WaitStarted();
  EXPECT_EQ(barrier->State(), NodeState::StartPending);
  EXPECT_EQ(user->started.runs, 0);
  slow->gate.set_value();
  user->WaitStarted();
  EXPECT_LT(slow->started.end, user->started.begin);
  EXPECT_LT(fast->started.end, user->started.begin);
  EXPECT_EQ(marked->started.runs, 0);
  std::ostringstream dot;
  Node* priority = g.graph.GetPriorityBarrier(4711);
  for (Node* node : {static_cast<Node*>(fast), static_cast<Node*>(barrier), priority})
    DumpNode(node, dot);
  auto id = [](const Node* node) { return std::to_string(reinterpret_cast<uintptr_t>(node)); };
  EXPECT_EQ(dot.str(), id(fast) + " [label=\"fast\"];\n" + id(fast) + " -> " + id(barrier) + ";\n" +
                           id(barrier) + " [label=\"storage\" shape=box];\n" + id(barrier) +
                           " -> " + id(user) + ";\n" + id(priority) +
                           " [label=\"_<->_priority_<->_4711\" shape=trapezium];\n");
}

TEST(Barriers, MissingProviderNamesEveryDependentAndAlertsUnlessInvoked) {
  ScratchHostRoot root;
  TestGraph g;
  Executor executor(2, false);
  for (size_t count : {1, 3}) {
    bool invoke = count == 1;
    SCOPED_TRACE(std::to_string(count) + (invoke ? " invoke" : ""));
    InitBarrier* barrier = g.graph.GetBarrier("missing" + std::to_string(count), true);
    std::string text = "Bootcrank dependency error: Initialization barrier \"" + barrier->Name() +
                       "\" is not provided by any plugin but the following plugins require it: ";
    RunList users;
    for (size_t i = 0; i < count; ++i) {
      users.push_back(g.AddPlugin("user" + std::to_string(count) + "." + std::to_string(i)));
      users.back()->AddDependency(barrier);
      text += (i > 0 ? ", \"" : "\"") + users.back()->Name() + "\"";
    }
    Settings::Instance().invoke = invoke;
    LogCapture log;
    StartRun(AsNodes(users), &executor);  // the dependents run all the same
    Settings::Instance().invoke = false;
    EXPECT_EQ(log.Messages("warning"), Names{text});
    EXPECT_EQ(log.Messages("alert"), invoke ? Names{} : Names{text});
  }
}

// 15 arrives after 20, 10 and 30; a later daemon of 20 must still land
// behind it.
TEST(PriorityChain, LevelsInsertedOutOfOrderChainEveryDaemon) {
  TestGraph g;
  auto daemon = [&](uint32_t priority, const std::string& name) {
    auto* plugin = g.AddPlugin(name, 3);
    g.graph.GetPriorityBarrier(priority)->AddToPriorityChain(plugin);
    return plugin;
  };
  RecordingPlugin *d20 = daemon(20, "d20"), *d10 = daemon(10, "d10"), *d30 = daemon(30, "d30"),
                  *d15 = daemon(15, "d15"), *d20b = daemon(20, "d20b");
  PriorityBarrier *b10 = g.graph.GetPriorityBarrier(10), *b15 = g.graph.GetPriorityBarrier(15),
                  *b20 = g.graph.GetPriorityBarrier(20), *b30 = g.graph.GetPriorityBarrier(30);
  EXPECT_EQ(g.graph.GetBarrier("_<->_priority_<->_20", false), b20);
  EXPECT_EQ(g.graph.PriorityLevels(), (std::vector<uint32_t>{10, 15, 20, 30}));
  GraphLockHolder lock;
  for (const auto& [node, dependencies] :
       std::vector<std::pair<Node*, Nodes>>{{b30, {b20, d30}},
                                            {b20, {d20, b10, b15, d20b}},
                                            {b15, {b10, d15}},
                                            {b10, {d10}},
                                            {d10, {}},
                                            {d15, {b10}},
                                            {d20, {b10, b15}},
                                            {d20b, {b15}},
                                            {d30, {b20}}}) {
    EXPECT_EQ(node->Dependencies(), dependencies) << node->Name();
  }
}

// Output stays linear in the graph: a long cycle names its first ten nodes,
// and past a hundred cycles only their number is reported. Each cycle is
// broken by dropping the edge that closes it, and only that one.
TEST(Cycles, ReportsAreBoundedInLengthAndNumber) {
  TestGraph g;
  std::vector<Node*> ring;
  for (int i = 0; i < 15; ++i) ring.push_back(g.Add("r" + std::to_string(i)));
  for (int i = 0; i < 15; ++i) ring[i]->AddDependency(ring[(i + 1) % 15]);
  for (int i = 0; i < 150; ++i) g.Add("s" + std::to_string(i))->AddDependency(g.nodes.back());
  LogCapture log;
  BreakDependencyCycles(g.graph, Nodes(g.nodes.begin(), g.nodes.end()));
  Names warnings = log.Messages("warning");
  ASSERT_EQ(warnings.size(), 101u);
  const std::string cycle = "Bootcrank dependency error: dependency cycle \"";
  EXPECT_EQ(
      warnings[0],
      cycle +
          "r0\" -> \"r1\" -> \"r2\" -> \"r3\" -> \"r4\" -> \"r5\" -> \"r6\" -> \"r7\" -> \"r8\" -> "
          "\"r9\" -> \u2026 and 5 more -> \"r0\" (each node depends on the next); dropping the "
          "dependency of \"r14\" on \"r0\"");
  EXPECT_EQ(warnings[1],
            cycle +
                "s0\" -> \"s0\" (each node depends on the next); dropping the dependency of "
                "\"s0\" on \"s0\"");
  EXPECT_EQ(warnings[100],
            "Bootcrank dependency error: 151 dependency cycles in all, each broken; the first 100 "
            "are reported");
  EXPECT_EQ(log.Messages("alert"), warnings);
  GraphLockHolder lock;
  EXPECT_TRUE(ring[14]->Dependencies().empty() && g.nodes[15]->Dependencies().empty());
  EXPECT_EQ(ring[13]->Dependencies(), Nodes{ring[14]});
}

}  // namespace
}  // namespace bootcrank
