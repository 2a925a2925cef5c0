#include "graph/cycles.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "graph/barrier.h"
#include "base/graph_lock.h"
#include "graph/node.h"
#include "host/host_control.h"
#include "host/log.h"
#include "graph/graph.h"

namespace bootcrank {

namespace {

// Every node connected to the run list or a registered barrier, following
// edges in both directions, in a deterministic order: seeds first (run list,
// then barriers by name), then breadth first.
std::vector<Node*> ConnectedNodes(const Graph& graph, const std::vector<Node*>& runList)
    REQUIRES(graphLock) {
  std::vector<Node*> nodes(runList.begin(), runList.end());
  for (InitBarrier* barrier : graph.AllBarriers()) nodes.push_back(barrier);
  std::unordered_set<Node*> seen;
  std::vector<Node*> order;
  auto visit = [&](Node* node) {
    if (seen.insert(node).second) order.push_back(node);
  };
  for (Node* node : nodes) visit(node);
  for (size_t i = 0; i < order.size(); ++i) {
    for (Node* next : order[i]->Dependencies()) visit(next);
    for (Node* next : order[i]->Dependents()) visit(next);
  }
  return order;
}

// Which edge of a cycle to drop: index i stands for "cycle[i] depends on
// cycle[i + 1]" (the last node on the first). A plugin's requirement of a
// barrier (a node that is not a barrier, waiting for one) is preferred, the
// last one on the path: dropping it leaves every barrier's providers in
// place, whereas dropping a barrier's edge to its only provider would make
// the barrier report a missing provider as well. Without one, the edge that
// closed the cycle goes.
size_t EdgeToDrop(const std::vector<Node*>& cycle) {
  for (size_t i = cycle.size(); i-- > 0;) {
    Node* waiting = cycle[i];
    Node* awaited = cycle[(i + 1) % cycle.size()];
    if (dynamic_cast<InitBarrier*>(waiting) == nullptr &&
        dynamic_cast<InitBarrier*>(awaited) != nullptr) {
      return i;
    }
  }
  return cycle.size() - 1;
}

// A report names at most this many nodes of its cycle, and at most this many
// cycles are reported one by one: dense cyclic graphs have very many long
// cycles, and each report also goes to syslog and the alerts.
constexpr size_t kNamesPerReport = 10;
constexpr size_t kReportedCycles = 100;

CycleReport ReportCycle(const std::vector<Node*>& cycle, size_t dropped) {
  CycleReport report;
  report.length = cycle.size();
  report.droppedFrom = cycle[dropped]->Name();
  report.droppedTo = cycle[(dropped + 1) % cycle.size()]->Name();
  std::string text = "Bootcrank dependency error: dependency cycle ";
  size_t shown = std::min(cycle.size(), kNamesPerReport);
  for (size_t i = 0; i < shown; ++i) {
    text += "\"" + cycle[i]->Name() + "\" -> ";
    report.nodes.push_back(cycle[i]->Name());
  }
  if (shown < cycle.size()) {
    text += "\u2026 and " + std::to_string(cycle.size() - shown) + " more -> ";
  }
  text += "\"" + cycle.front()->Name() +
          "\" (each node depends on the next); dropping the "
          "dependency of \"" +
          cycle[dropped]->Name() + "\" on \"" + cycle[(dropped + 1) % cycle.size()]->Name() + "\"";
  HvkCtl::System::SystemInfoImpl().SetSystemAlert(text);
  Log_Level(kLogWarning, "%s\n", text.c_str());
  return report;
}

// The total, once the reports stopped short of it.
void ReportCycleCount(size_t cycles) {
  std::string text = "Bootcrank dependency error: " + std::to_string(cycles) +
                     " dependency cycles in all, each broken; the first " +
                     std::to_string(kReportedCycles) + " are reported";
  HvkCtl::System::SystemInfoImpl().SetSystemAlert(text);
  Log_Level(kLogWarning, "%s\n", text.c_str());
}

}  // namespace

// A depth-first search over dependencies, kept on an explicit path. An edge
// to a node that is still on the path closes a cycle; one edge of the cycle
// is reported and removed, and the path is cut back to the node that lost
// the edge (the nodes above it count as unvisited again). Every edge left
// then leads to a node that finished before the edge's owner, so the graph
// is acyclic after one search.
std::vector<CycleReport> BreakDependencyCycles(const Graph& graph,
                                               const std::vector<Node*>& runList,
                                               size_t* cycleCount) {
  std::vector<CycleReport> reports;
  GraphLockHolder lock;
  constexpr size_t kDone = static_cast<size_t>(-1);
  // Absent: unvisited; kDone: finished; otherwise the position on the path.
  std::unordered_map<Node*, size_t> mark;
  struct Frame {
    Node* node;
    size_t next;  // the next dependency to look at
  };
  std::vector<Frame> path;
  size_t cycles = 0;

  for (Node* root : ConnectedNodes(graph, runList)) {
    if (mark.count(root) != 0) continue;
    mark[root] = 0;
    path.push_back(Frame{root, 0});
    while (!path.empty()) {
      Frame& top = path.back();
      const std::vector<Node*>& dependencies = top.node->Dependencies();
      if (top.next == dependencies.size()) {
        mark[top.node] = kDone;
        path.pop_back();
        continue;
      }
      Node* dependency = dependencies[top.next++];
      auto found = mark.find(dependency);
      if (found == mark.end()) {
        mark[dependency] = path.size();
        path.push_back(Frame{dependency, 0});  // invalidates `top`
        continue;
      }
      if (found->second == kDone) continue;

      std::vector<Node*> cycle;
      for (size_t i = found->second; i < path.size(); ++i) cycle.push_back(path[i].node);
      size_t dropped = EdgeToDrop(cycle);
      if (++cycles <= kReportedCycles) reports.push_back(ReportCycle(cycle, dropped));
      size_t cut = found->second + dropped;
      Node* awaited = cycle[(dropped + 1) % cycle.size()];
      while (path.size() > cut + 1) {
        mark.erase(path.back().node);
        path.pop_back();
      }
      // Whichever copy of the edge goes, it sits at or before the one just
      // followed, so the next one to look at moves back by one.
      path.back().node->RemoveDependency(awaited);
      --path.back().next;
    }
  }
  if (cycles > kReportedCycles) ReportCycleCount(cycles);
  if (cycleCount != nullptr) *cycleCount = cycles;
  return reports;
}

}  // namespace bootcrank
