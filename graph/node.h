// Nodes of the dependency graph.
//
// Every unit of start-up work (a plugin) and every synchronisation point (a
// barrier) is a Node. When A depends on B, B is in A's dependencies and A in
// B's dependents; edges are stored twice and never removed, nodes are never
// deleted. The graph is walked forward (start run) and backward (stop run);
// walks queue ready nodes into an Executor, whose workers run them.
//
// Thread-safety: all graph state (edge lists, state, depths) is guarded by
// GraphLock. Every operation below takes it itself, except the edge-list
// accessors, which require it held, and Activate and Deactivate, which run
// without it. No operation recurses over the graph: walks and depths use
// explicit work lists, so chains of any length work.
#ifndef BOOTCRANK_GRAPH_NODE_H_
#define BOOTCRANK_GRAPH_NODE_H_

#include <pthread.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/graph_lock.h"
#include "base/time_value.h"

namespace bootcrank {

class Executor;

enum class NodeState : int32_t {
  Idle = 0,          // not yet touched by a walk
  StartPending = 1,  // the forward walk visited it; waiting for dependencies
  StopPending = 2,   // the reverse walk visited it; waiting for dependents
  StartQueued = 3,   // in the executor's ready queue (or running) for a start
  StopQueued = 4,    // in the ready queue (or running) for a stop
  Started = 5,       // start finished, or marked finished
  Stopped = 6,       // stop finished
};

class Node {
 public:
  // Throws Exception("Condition variable for Node could not be initialized").
  Node(const std::string& name, uint32_t executionClass);
  virtual ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // The node's start work; runs on a worker without GraphLock.
  virtual void Activate(Executor* executor) = 0;
  // The node's stop work; runs on a worker without GraphLock. Default: nothing.
  virtual void Deactivate(Executor* executor);
  // Attribute text appended to the node's label in the dot dump.
  virtual std::string DotAttributes() const = 0;

  const std::string& Name() const { return name_; }
  uint32_t ExecutionClass() const { return executionClass_; }

  // The edge lists themselves: hold GraphLock for as long as they are read.
  const std::vector<Node*>& Dependencies() const REQUIRES(graphLock) { return dependencies_; }
  const std::vector<Node*>& Dependents() const REQUIRES(graphLock) { return dependents_; }
  NodeState State() const;  // takes GraphLock

  // This node depends on `other`.
  void AddDependency(Node* other);
  // `other` depends on this node.
  void AddDependent(Node* other);
  // Drops one edge "this depends on `other`" (both copies). Only the cycle
  // breaker uses it, before anything runs. Returns false when there is none.
  bool RemoveDependency(Node* other);

  // Sets Started without running anything or waking anyone.
  void MarkStarted();

  // Forward walk: queues this node when its dependencies are finished,
  // walking Idle dependencies first (post-order, dependencies in list order).
  void ScheduleStart(Executor* executor);
  // Reverse walk: the mirror image over dependents.
  void ScheduleStop(Executor* executor);

  // Worker side: runs the node's work and publishes completion, scheduling
  // the nodes that it held back. Run dispatches on the state.
  void RunStart(Executor* executor);
  void RunStop(Executor* executor);
  void Run(Executor* executor);
  // Publishes completion without running the node's work: the run is ending
  // (a termination signal), and its waits must still return.
  void Skip(Executor* executor);

  // Block until the node is Started (respectively Stopped).
  void WaitStarted();
  void WaitStopped();

  // Longest chain of dependencies below / dependents above this node;
  // computed once (iteratively) and cached. Both take GraphLock.
  int32_t DependencyDepth();
  int32_t DependentDepth();

  // Scheduler bookkeeping owned by the Executor.
  uint64_t queueSequence GUARDED_BY(graphLock) = 0;

  // When the node became ready (queued), when a worker took it up and when
  // its work ended, and which worker ran it (-1: none); zero times for what
  // did not happen. Written by the executor (ready under GraphLock, the rest
  // by the one worker that runs the node); read after the workers joined.
  struct Times {
    TimeValue ready;
    TimeValue started;
    TimeValue ended;
    int32_t worker = -1;
    bool skipped = false;  // completed without its work (the run was ending)
  };
  Times times;

 private:
  enum Direction { kForward, kBackward };
  void Schedule(Executor* executor, Direction direction) REQUIRES(graphLock);
  void Finish(Executor* executor, Direction direction);
  void WaitFor(NodeState state);
  int32_t Depth(Direction direction);

  std::string name_;
  std::vector<Node*> dependencies_ GUARDED_BY(graphLock);
  std::vector<Node*> dependents_ GUARDED_BY(graphLock);
  uint32_t executionClass_;
  int32_t dependentDepth_ GUARDED_BY(graphLock) = -1;   // -1 = unknown
  int32_t dependencyDepth_ GUARDED_BY(graphLock) = -1;  // -1 = unknown
  NodeState state_ GUARDED_BY(graphLock) = NodeState::Idle;
  pthread_cond_t finished_;  // broadcast when a start or stop finishes
};

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_NODE_H_
