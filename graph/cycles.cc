#include "graph/cycles.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "graph/barrier.h"
#include "graph/graph_lock.h"
#include "graph/node.h"
#include "host/host_control.h"
#include "host/log.h"

namespace bootcrank {

namespace {

// Every node connected to the run list or a registered barrier, following
// edges in both directions, in a deterministic order: seeds first (run list,
// then barriers by name), then breadth first. REQUIRES: GraphLock held.
std::vector<Node*> ConnectedNodes(const RunList& runList) {
  std::vector<Node*> nodes(runList.begin(), runList.end());
  for (InitBarrier* barrier : AllBarriers()) nodes.push_back(barrier);
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

// `chain` depends on each next one, and its last node on `first` again.
void ReportCycle(const std::vector<Node*>& chain, Node* first) {
  std::string text = "Bootcrank dependency error: dependency cycle ";
  for (Node* node : chain) text += "\"" + node->Name() + "\" -> ";
  text += "\"" + first->Name() + "\" (each node depends on the next); dropping the "
          "dependency of \"" + chain.back()->Name() + "\" on \"" + first->Name() + "\"";
  HvkCtl::System::SystemInfoImpl().SetSystemAlert(text);
  Log_Level(kLogWarning, "%s\n", text.c_str());
}

}  // namespace

// A depth-first search over dependencies, kept on an explicit path. An edge
// to a node that is still on the path closes a cycle: that edge is reported
// and removed. A graph in which a depth-first search finds no such edge is
// acyclic, so one pass suffices.
void BreakDependencyCycles(const RunList& runList) {
  GraphLockHolder lock;
  constexpr size_t kDone = static_cast<size_t>(-1);
  // Absent: not yet visited; kDone: finished; otherwise the position on the path.
  std::unordered_map<Node*, size_t> mark;
  struct Frame {
    Node* node;
    size_t next;  // the next dependency to look at
  };
  std::vector<Frame> path;

  for (Node* root : ConnectedNodes(runList)) {
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
      } else if (found->second != kDone) {
        std::vector<Node*> chain;
        for (size_t i = found->second; i < path.size(); ++i) chain.push_back(path[i].node);
        ReportCycle(chain, dependency);
        // Earlier copies of this edge were removed when they were seen, so
        // the one removed is the one just looked at.
        top.node->RemoveDependency(dependency);
        --top.next;
      }
    }
  }
}

}  // namespace bootcrank
