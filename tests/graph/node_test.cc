// The graph's walks, barriers, depths, priority chain, cycle breaking and
// dot dump, run on a real executor.

#include "graph/node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "graph/barrier.h"
#include "graph/cycles.h"
#include "graph/dependency_dump.h"
#include "graph/executor.h"
#include "runcontrol/settings.h"
#include "support/log_capture.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using namespace testing;  // NOLINT: the fixtures
using Names = std::vector<std::string>;
using Nodes = std::vector<Node*>;

// Recording nodes owned by the test (no barriers involved).
struct Graph {
  RecordingNode* Add(const std::string& name, const Nodes& dependencies = {}, bool fail = false) {
    nodes.push_back(std::make_unique<RecordingNode>(name, &record, 1, fail));
    for (Node* dependency : dependencies) nodes.back()->AddDependency(dependency);
    return nodes.back().get();
  }
  RunRecord record;
  std::vector<std::unique_ptr<RecordingNode>> nodes;
};

// One worker: the order follows the dependent depth (right before left).
TEST(Walks, DepthsAndWalksInBothDirections) {
  Graph g;
  RecordingNode* base = g.Add("base");
  RecordingNode* left = g.Add("left", {base});
  RecordingNode* right = g.Add("right", {base}, /*fail=*/true);  // completes all the same
  RecordingNode* detour = g.Add("detour", {right});
  RecordingNode* top = g.Add("top", {left, detour});
  RecordingNode* bystander = g.Add("bystander", {base});  // not needed by top
  EXPECT_EQ(top->DependencyDepth(), 3);  // via detour, not left
  EXPECT_EQ(base->DependentDepth(), 3);
  Executor executor(1, false);
  auto log = std::make_unique<LogCapture>();
  top->ScheduleStart(&executor);
  top->WaitStarted();
  EXPECT_TRUE(log->Has("error", "Unhandled exception while activating right: broken right"));
  log.reset();  // before any failure is reported
  top->ScheduleStart(&executor);  // finished: nothing runs again
  base->ScheduleStart(&executor);
  top->WaitStarted();
  EXPECT_EQ(g.record.Order(), (Names{"base", "right", "left", "detour", "top"}));
  EXPECT_EQ(bystander->State(), NodeState::Idle);
  RecordingNode* under = g.Add("under");  // the new edge's ends drop cached depths
  base->AddDependency(under);
  EXPECT_EQ(base->DependencyDepth(), 1);
  EXPECT_EQ(under->DependentDepth(), 4);

  Graph h;  // the stop walk only walks nodes not started in this process
  RecordingNode* bottom = h.Add("bottom");
  RecordingNode* other = h.Add("other");  // a dependency of upper, not above bottom
  RecordingNode* upper = h.Add("upper", {h.Add("middle", {bottom}), other});
  bottom->ScheduleStop(&executor);
  bottom->WaitStopped();
  EXPECT_EQ(h.record.Order(), (Names{"upper", "middle", "bottom"}));
  EXPECT_EQ(other->State(), NodeState::Idle);
  EXPECT_EQ(upper->started.runs, 0);
}

// Far longer than a thread stack could recurse through.
TEST(Depths, HundredThousandChainWithoutRecursion) {
  constexpr int kLength = 100000;
  ScratchHostRoot root;
  Graph g, h;  // started, and stopped
  for (int i = 0; i < kLength; ++i) {
    g.Add("c" + std::to_string(i), i ? Nodes{g.nodes.back().get()} : Nodes{});
    h.Add("c" + std::to_string(i), i ? Nodes{h.nodes.back().get()} : Nodes{});
  }
  RecordingPlugin top("top", &g.record);
  top.AddDependency(g.nodes.back().get());
  EXPECT_EQ(g.nodes.front()->DependentDepth(), kLength);
  EXPECT_EQ(top.DependencyDepth(), kLength);
  BreakDependencyCycles({&top});
  Executor executor(2, true);
  StartRun({&top}, &executor);
  h.nodes.front()->ScheduleStop(&executor);
  h.nodes.front()->WaitStopped();
  Names started = g.record.Order(), stopped = h.record.Order();
  ASSERT_EQ(started.size(), kLength + 1u);
  EXPECT_EQ(started[kLength - 1], "c" + std::to_string(kLength - 1));
  EXPECT_EQ(started.back(), "top");
  ASSERT_EQ(stopped.size(), static_cast<size_t>(kLength));
  EXPECT_EQ(stopped.front(), "c" + std::to_string(kLength - 1));
  EXPECT_EQ(stopped.back(), "c0");
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
// started counts as finished without running.
TEST(Barriers, BarrierWaitsForEveryProvider) {
  ScratchHostRoot root;
  RunRecord record;
  auto* fast = Keep(new RecordingPlugin(UniqueName("fast"), &record));
  auto* slow = Keep(new GatedPlugin(UniqueName("slow"), &record));
  auto* marked = Keep(new RecordingPlugin(UniqueName("marked"), &record));
  auto* user = Keep(new RecordingPlugin(UniqueName("user"), &record));
  InitBarrier* barrier = GetBarrier(UniqueName("storage"), true);
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
}

TEST(Barriers, MissingProviderNamesEveryDependentAndAlertsUnlessInvoked) {
  ScratchHostRoot root;
  RunRecord record;
  Executor executor(2, false);
  for (size_t count : {0, 1, 3}) {
    for (bool invoke : {false, true}) {
      SCOPED_TRACE(std::to_string(count) + (invoke ? " invoke" : ""));
      InitBarrier* barrier = GetBarrier(UniqueName("missing"), true);
      std::string text = "Bootcrank dependency error: Initialization barrier \"" + barrier->Name() +
                         "\" is not provided by any plugin but the following plugins require it: ";
      RunList users;
      for (size_t i = 0; i < count; ++i) {
        users.push_back(Keep(new RecordingPlugin(UniqueName("user"), &record)));
        users.back()->AddDependency(barrier);
        text += (i > 0 ? ", \"" : "\"") + users.back()->Name() + "\"";
      }
      Settings::Instance().invoke = invoke;
      LogCapture log;
      if (users.empty()) barrier->ScheduleStart(&executor);
      StartRun(users, &executor);  // the dependents run all the same
      barrier->WaitStarted();
      Settings::Instance().invoke = false;
      EXPECT_EQ(log.Messages("warning"), Names{text});
      EXPECT_EQ(log.Messages("alert"), invoke ? Names{} : Names{text});
    }
  }
}

// Priority levels are process-wide: this needs a process in which no other
// test made a level of 30 or below. 15 arrives after 20, 10 and 30; a later
// daemon of 20 must still land behind it.
TEST(PriorityChain, LevelsInsertedOutOfOrderChainEveryDaemon) {
  std::vector<uint32_t> levels = PriorityLevels();
  ASSERT_TRUE(levels.empty() || levels.front() > 30);
  RunRecord record;
  auto daemon = [&](uint32_t priority, const std::string& name) {
    auto* plugin = Keep(new RecordingPlugin(name, &record, 3));
    GraphLockHolder lock;
    GetPriorityBarrier(priority)->AddToPriorityChain(plugin);
    return plugin;
  };
  RecordingPlugin* d20 = daemon(20, "d20");
  RecordingPlugin* d10 = daemon(10, "d10");
  RecordingPlugin* d30 = daemon(30, "d30");
  RecordingPlugin* d15 = daemon(15, "d15");
  RecordingPlugin* d20b = daemon(20, "d20b");
  PriorityBarrier *b10 = GetPriorityBarrier(10), *b15 = GetPriorityBarrier(15),
                  *b20 = GetPriorityBarrier(20), *b30 = GetPriorityBarrier(30);
  EXPECT_EQ(GetBarrier("_<->_priority_<->_20", false), b20);
  levels = PriorityLevels();
  EXPECT_EQ(std::vector<uint32_t>(levels.begin(), levels.begin() + 4),
            (std::vector<uint32_t>{10, 15, 20, 30}));
  GraphLockHolder lock;
  EXPECT_EQ(b30->Dependencies(), (Nodes{b20, d30}));
  EXPECT_EQ(b20->Dependencies(), (Nodes{d20, b10, b15, d20b}));
  EXPECT_EQ(b15->Dependencies(), (Nodes{b10, d15}));
  EXPECT_EQ(b15->Dependents(), (Nodes{d20, b20, d20b}));
  EXPECT_EQ(b10->Dependencies(), Nodes{d10});
  EXPECT_TRUE(d10->Dependencies().empty());
  EXPECT_EQ(d15->Dependencies(), Nodes{b10});
  EXPECT_EQ(d20->Dependencies(), (Nodes{b10, b15}));
  EXPECT_EQ(d20->Dependents(), Nodes{b20});
  EXPECT_EQ(d20b->Dependencies(), Nodes{b15});
  EXPECT_EQ(d30->Dependencies(), Nodes{b20});
}

// The report of the cycle `chain` (each depends on the next, the last on the
// first) when the edge leaving chain[dropped] goes.
std::string CycleReport(const std::vector<const Node*>& chain, size_t dropped) {
  std::string text = "Bootcrank dependency error: dependency cycle ";
  for (const Node* node : chain) text += "\"" + node->Name() + "\" -> ";
  return text + "\"" + chain.front()->Name() +
         "\" (each node depends on the next); dropping the dependency of \"" +
         chain[dropped]->Name() + "\" on \"" + chain[(dropped + 1) % chain.size()]->Name() +
         "\"";
}

// Each cycle is reported (warning and alert) and broken, and the run then
// reaches every plugin.
TEST(Cycles, TwoPluginsASelfLoopAndALongRing) {
  ScratchHostRoot root;
  RunRecord record;
  auto plugin = [&](const std::string& suffix) {
    return Keep(new RecordingPlugin(UniqueName(suffix), &record));
  };
  RecordingPlugin* a = plugin("a");
  RecordingPlugin* b = plugin("b");
  RecordingPlugin* selfish = plugin("selfish");
  a->AddDependency(b);
  b->AddDependency(a);
  selfish->AddDependency(selfish);
  RunList all = {a, b, selfish};
  std::vector<const Node*> ring;
  for (int i = 0; i < 1000; ++i) {
    all.push_back(plugin("r" + std::to_string(i)));
    if (i > 0) all[all.size() - 2]->AddDependency(all.back());
    ring.push_back(all.back());
  }
  all.back()->AddDependency(all[3]);
  LogCapture log;
  BreakDependencyCycles(all);
  Executor executor(2, false);
  StartRun(all, &executor);
  Names reports = {CycleReport({a, b}, 1), CycleReport({selfish}, 0), CycleReport(ring, 999)};
  EXPECT_EQ(log.Messages("warning"), reports);
  EXPECT_EQ(log.Messages("alert"), reports);
  EXPECT_TRUE(b->Dependencies().empty());
  EXPECT_LT(b->started.end, a->started.begin);
  Names order = record.Order();
  EXPECT_EQ(order.size(), 1003u);
  EXPECT_LT(std::find(order.begin(), order.end(), ring.back()->Name()),
            std::find(order.begin(), order.end(), ring.front()->Name()));
}

std::string Id(const Node* node) { return std::to_string(reinterpret_cast<uintptr_t>(node)); }
std::string Label(const Node* node) { return Id(node) + " [label=\"" + node->Name() + "\""; }

// Plugins, plain barriers and priority barriers each have their own shape;
// a barrier provided by two plugins is one node and the target of two edges.
TEST(DependencyDump, NodeAndEdgeLinesOfEveryKind) {
  ScratchHostRoot root;
  RunRecord record;
  auto* first = Keep(new RecordingPlugin(UniqueName("first"), &record));
  auto* second = Keep(new RecordingPlugin(UniqueName("second"), &record));
  auto* user = Keep(new RecordingPlugin(UniqueName("user"), &record));
  InitBarrier* shared = GetBarrier(UniqueName("shared"), true);
  shared->AddDependency(first);
  shared->AddDependency(second);
  user->AddDependency(shared);
  std::string path = root.path + "/graph.dot", edge = " -> " + Id(shared) + ";\n";
  ASSERT_TRUE(DumpDependencyTree({user, first, second}, &path));
  std::ifstream in(path);
  std::string dot(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(dot.rfind("digraph g {\n" + Label(user) + "];\n" + Label(first) + "];\n" + Id(first) +
                          edge + Label(second) + "];\n" + Id(second) + edge, 0), 0u) << dot;
  std::string box = "\n" + Label(shared) + " shape=box];\n";
  size_t at = dot.find(box + Id(shared) + " -> " + Id(user) + ";\n");
  EXPECT_NE(at, std::string::npos) << dot;
  EXPECT_EQ(dot.find(box, at + 1), std::string::npos) << dot;  // once
  EXPECT_EQ(dot.substr(dot.size() - 2), "}\n");
  std::ostringstream line;
  DumpNode(GetPriorityBarrier(4711), line);
  EXPECT_EQ(line.str().rfind(Label(GetPriorityBarrier(4711)) + " shape=trapezium];\n", 0), 0u);
  path = root.path + "/missing/graph.dot";
  EXPECT_FALSE(DumpDependencyTree({}, &path));
}

}  // namespace
}  // namespace bootcrank
