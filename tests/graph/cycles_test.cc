// Dependency cycles are reported, broken, and the run then reaches every node.

#include "graph/cycles.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "graph/barrier.h"
#include "graph/executor.h"
#include "support/log_capture.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using testing::Keep;
using testing::LogCapture;
using testing::RecordingPlugin;
using testing::RunRecord;
using testing::ScratchHostRoot;
using testing::UniqueName;

// The report of a cycle along `chain` (each depends on the next, the last
// on the first) of which the edge leaving chain[dropped] is dropped.
std::string CycleReport(const std::vector<const Node*>& chain, size_t dropped) {
  std::string text = "Bootcrank dependency error: dependency cycle ";
  for (const Node* node : chain) text += "\"" + node->Name() + "\" -> ";
  text += "\"" + chain.front()->Name() + "\" (each node depends on the next); dropping the "
          "dependency of \"" + chain[dropped]->Name() + "\" on \"" +
          chain[(dropped + 1) % chain.size()]->Name() + "\"";
  return text;
}

// The same when the edge that closes the cycle is dropped.
std::string CycleReport(const std::vector<const Node*>& chain) {
  return CycleReport(chain, chain.size() - 1);
}

class CyclesTest : public ::testing::Test {
 protected:
  RecordingPlugin* NewPlugin(const char* suffix) {
    return Keep(new RecordingPlugin(UniqueName(suffix), &record));
  }
  // Breaks the cycles, then runs `plugins` to the end on two workers.
  void BreakAndRun(const RunList& plugins) {
    BreakDependencyCycles(plugins);
    Executor executor(2, false);
    StartRun(plugins, &executor);
  }

  ScratchHostRoot root;
  RunRecord record;
};

TEST_F(CyclesTest, TwoPluginsWaitingForEachOther) {
  RecordingPlugin* a = NewPlugin("a");
  RecordingPlugin* b = NewPlugin("b");
  a->AddDependency(b);
  b->AddDependency(a);

  LogCapture log;
  BreakAndRun({a, b});
  std::string expected = CycleReport({a, b});
  EXPECT_EQ(log.Messages("warning"), std::vector<std::string>{expected});
  EXPECT_EQ(log.Messages("alert"), std::vector<std::string>{expected});
  EXPECT_TRUE(b->Dependencies().empty());
  EXPECT_EQ(a->Dependencies(), std::vector<Node*>{b});
  EXPECT_EQ(a->started.runs, 1);
  EXPECT_EQ(b->started.runs, 1);
  EXPECT_LT(b->started.end, a->started.begin);
}

TEST_F(CyclesTest, SelfLoopsAndASharedBarrierRequiredAndProvided) {
  RecordingPlugin* selfish = NewPlugin("selfish");
  selfish->AddDependency(selfish);
  // Requires and provides the same barrier.
  RecordingPlugin* circular = NewPlugin("circular");
  InitBarrier* barrier = GetBarrier(UniqueName("loop"), true);
  circular->AddDependency(barrier);
  barrier->AddDependency(circular);

  LogCapture log;
  BreakAndRun({selfish, circular});
  // The plugin's requirement goes, not the barrier's only provider.
  std::vector<std::string> expected = {CycleReport({selfish}),
                                       CycleReport({circular, barrier}, 0)};
  EXPECT_EQ(log.Messages("warning"), expected);
  EXPECT_EQ(log.Messages("alert"), expected);
  EXPECT_TRUE(selfish->Dependencies().empty());
  EXPECT_TRUE(circular->Dependencies().empty());
  EXPECT_EQ(barrier->Dependencies(), std::vector<Node*>{circular});
  EXPECT_EQ(selfish->started.runs, 1);
  EXPECT_EQ(circular->started.runs, 1);
}

TEST_F(CyclesTest, LongCycleThroughBarriersNamesEveryNodeInOrder) {
  // p1 requires x and provides y, p2 requires y and provides z, p3 requires
  // z and provides x: p1 -> x -> p3 -> z -> p2 -> y -> p1.
  RecordingPlugin* p1 = NewPlugin("p1");
  RecordingPlugin* p2 = NewPlugin("p2");
  RecordingPlugin* p3 = NewPlugin("p3");
  InitBarrier* x = GetBarrier(UniqueName("x"), true);
  InitBarrier* y = GetBarrier(UniqueName("y"), true);
  InitBarrier* z = GetBarrier(UniqueName("z"), true);
  p1->AddDependency(x);
  y->AddDependency(p1);
  p2->AddDependency(y);
  z->AddDependency(p2);
  p3->AddDependency(z);
  x->AddDependency(p3);

  LogCapture log;
  BreakAndRun({p1, p2, p3});
  // Of the three requirements, the last one on the path goes: p2 on y.
  EXPECT_EQ(log.Messages("warning"),
            std::vector<std::string>{CycleReport({p1, x, p3, z, p2, y}, 4)});
  EXPECT_TRUE(p2->Dependencies().empty());
  EXPECT_EQ(y->Dependencies(), std::vector<Node*>{p1});
  for (RecordingPlugin* p : {p1, p2, p3}) EXPECT_EQ(p->started.runs, 1);
  EXPECT_LT(p2->started.end, p3->started.begin);
  EXPECT_LT(p3->started.end, p1->started.begin);
}

TEST_F(CyclesTest, CyclesSharingNodesAreAllBroken) {
  // Two plugins that each require what the other provides, and a third that
  // requires and provides both barriers: several overlapping cycles.
  RecordingPlugin* p = NewPlugin("p");
  RecordingPlugin* q = NewPlugin("q");
  RecordingPlugin* r = NewPlugin("r");
  InitBarrier* bp = GetBarrier(UniqueName("bp"), true);
  InitBarrier* bq = GetBarrier(UniqueName("bq"), true);
  for (auto [plugin, required, provided] :
       {std::tuple(p, bq, bp), std::tuple(q, bp, bq), std::tuple(r, bp, bp),
        std::tuple(r, bq, bq)}) {
    plugin->AddDependency(required);
    provided->AddDependency(plugin);
  }

  LogCapture log;
  BreakAndRun({p, q, r});
  EXPECT_FALSE(log.Messages("warning").empty());
  for (const std::string& message : log.Messages("warning")) {
    EXPECT_EQ(message.rfind("Bootcrank dependency error: dependency cycle \"", 0), 0u) << message;
  }
  for (RecordingPlugin* plugin : {p, q, r}) EXPECT_EQ(plugin->started.runs, 1);
  LogCapture again;
  BreakDependencyCycles({p, q, r});
  EXPECT_TRUE(again.Messages("warning").empty());
}

TEST_F(CyclesTest, SeparateCyclesAreEachReportedAndSharedNodesAreNotCycles) {
  RecordingPlugin* a = NewPlugin("a");
  RecordingPlugin* b = NewPlugin("b");
  RecordingPlugin* c = NewPlugin("c");
  RecordingPlugin* d = NewPlugin("d");
  a->AddDependency(b);
  b->AddDependency(a);
  c->AddDependency(d);
  d->AddDependency(c);
  // A diamond and a shared barrier: reached twice, but acyclic.
  RecordingPlugin* top = NewPlugin("top");
  RecordingPlugin* left = NewPlugin("left");
  RecordingPlugin* right = NewPlugin("right");
  InitBarrier* shared = GetBarrier(UniqueName("shared"), true);
  top->AddDependency(left);
  top->AddDependency(right);
  left->AddDependency(shared);
  right->AddDependency(shared);
  shared->AddDependency(a);  // provided by a

  LogCapture log;
  BreakAndRun({top, a, b, c, d, left, right});
  EXPECT_EQ(log.Messages("warning"),
            (std::vector<std::string>{CycleReport({a, b}), CycleReport({c, d})}));
  for (RecordingPlugin* p : {top, a, b, c, d, left, right}) EXPECT_EQ(p->started.runs, 1);

  // Nothing is left to break.
  LogCapture again;
  BreakDependencyCycles({top, a, b, c, d, left, right});
  EXPECT_TRUE(again.Messages("warning").empty());
}

TEST_F(CyclesTest, RingOfAThousandPlugins) {
  std::vector<Plugin*> ring;
  std::vector<const Node*> chain;
  for (int i = 0; i < 1000; ++i) {
    RecordingPlugin* p = NewPlugin(("r" + std::to_string(i)).c_str());
    if (!ring.empty()) ring.back()->AddDependency(p);
    ring.push_back(p);
    chain.push_back(p);
  }
  ring.back()->AddDependency(ring.front());

  LogCapture log;
  BreakAndRun(ring);
  // Searched as text: the record is too long for the capture's line parser.
  std::string text = log.Text();
  std::string report = ": warning: " + CycleReport(chain) + "\n";
  size_t at = text.find(report);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(text.find(report, at + 1), std::string::npos);  // reported once
  EXPECT_EQ(record.Order().size(), 1000u);
  EXPECT_EQ(record.Order().front(), ring.back()->Name());
  EXPECT_EQ(record.Order().back(), ring.front()->Name());
}

}  // namespace
}  // namespace bootcrank
