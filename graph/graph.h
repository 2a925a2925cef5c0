// Graph: the owner of one dependency graph.
//
// It holds every node (plugins and barriers), the barrier registry that
// names the barriers, and the priority levels that chain init-script
// daemons, and frees them all when it goes. A run's graph is made by main
// and handed down to discovery, cycle breaking, the dump and the executor; a
// test or an analysis program makes its own, and graphs do not share nodes.
// Destroy a graph only after every executor that ran its nodes is gone.
//
// Thread-safety: every member takes GraphLock itself; the node list, the
// registry and the levels are guarded by it.
#ifndef BOOTCRANK_GRAPH_GRAPH_H_
#define BOOTCRANK_GRAPH_GRAPH_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/graph_lock.h"

namespace bootcrank {

class InitBarrier;
class Node;
class PriorityBarrier;

class Graph {
 public:
  Graph();
  ~Graph();
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // Takes ownership of `node` (a node of this graph) and returns it.
  template <class NodeKind>
  NodeKind* Add(std::unique_ptr<NodeKind> node) {
    NodeKind* raw = node.get();
    Adopt(std::unique_ptr<Node>(std::move(node)));
    return raw;
  }

  // The barrier of `name`; when none is registered, a new InitBarrier when
  // `create` is set, else null.
  InitBarrier* GetBarrier(const std::string& name, bool create);
  // Registers `barrier` (owned by this graph) under `name`, replacing an
  // earlier entry.
  void RegisterBarrier(InitBarrier* barrier, const std::string& name);
  // The registered barriers in byte-wise name order.
  std::vector<InitBarrier*> AllBarriers() const;

  // The priority barrier of `priority`, created when missing: inserted into
  // the levels and linked between the barriers of the neighbouring levels,
  // the next higher level's plugins now also waiting for it.
  PriorityBarrier* GetPriorityBarrier(uint32_t priority);
  // The ascending priority values that have a barrier.
  std::vector<uint32_t> PriorityLevels() const;
  // The barrier of the next lower level than `priority`, or null.
  // REQUIRES: `priority` has a barrier.
  InitBarrier* LowerPriorityBarrier(uint32_t priority) const;

  // How many nodes the graph owns, and the nodes in the order they were added.
  size_t NodeCount() const;
  std::vector<Node*> Nodes() const;

 private:
  void Adopt(std::unique_ptr<Node> node);

  std::vector<std::unique_ptr<Node>> nodes_ GUARDED_BY(graphLock);
  std::map<std::string, InitBarrier*> barriers_ GUARDED_BY(graphLock);
  std::vector<uint32_t> levels_ GUARDED_BY(graphLock);  // ascending
};

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_GRAPH_H_
