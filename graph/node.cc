#include "graph/node.h"

#include <algorithm>
#include <exception>

#include "graph/executor.h"
#include "base/graph_lock.h"
#include "host/log.h"
#include "base/exception.h"

namespace bootcrank {

namespace {

// Marks a node whose depth is being computed, so that a cycle (which the
// cycle breaker removes before any run) cannot loop the computation.
constexpr int32_t kDepthInProgress = -2;

// Runs a node's own work. A node's failure is its own business: whatever
// escapes the work is logged and the node completes anyway, so that its
// dependents run and nobody waits for it forever.
template <typename Work>
void RunGuarded(const char* doing, const std::string& name, Work work) {
  std::string reason;
  try {
    work();
    return;
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = "unknown exception";
  }
  Log_Level(kLogError, "Unhandled exception while %s %s: %s\n", doing, name.c_str(),
            reason.c_str());
}

}  // namespace

Node::Node(const std::string& name, uint32_t executionClass)
    : name_(name), executionClass_(executionClass) {
  if (pthread_cond_init(&finished_, nullptr) != 0) {
    throw Exception("Condition variable for Node could not be initialized");
  }
}

Node::~Node() { pthread_cond_destroy(&finished_); }

void Node::Deactivate(Executor*) {}

NodeState Node::State() const {
  GraphLockHolder lock;
  return state_;
}

void Node::AddDependency(Node* other) {
  GraphLockHolder lock;
  other->dependents_.push_back(this);
  dependencies_.push_back(other);
  other->dependentDepth_ = -1;
  dependencyDepth_ = -1;
}

void Node::AddDependent(Node* other) {
  GraphLockHolder lock;
  other->dependencies_.push_back(this);
  dependents_.push_back(other);
  other->dependencyDepth_ = -1;
  dependentDepth_ = -1;
}

bool Node::RemoveDependency(Node* other) {
  GraphLockHolder lock;
  auto dep = std::find(dependencies_.begin(), dependencies_.end(), other);
  auto back = std::find(other->dependents_.begin(), other->dependents_.end(), this);
  if (dep == dependencies_.end() || back == other->dependents_.end()) return false;
  dependencies_.erase(dep);
  other->dependents_.erase(back);
  other->dependentDepth_ = -1;
  dependencyDepth_ = -1;
  return true;
}

void Node::MarkStarted() {
  GraphLockHolder lock;
  state_ = NodeState::Started;
}

void Node::ScheduleStart(Executor* executor) {
  GraphLockHolder lock;
  Schedule(executor, kForward);
}

void Node::ScheduleStop(Executor* executor) {
  GraphLockHolder lock;
  Schedule(executor, kBackward);
}

// The walk is a post-order depth-first search over the edges of its direction,
// kept on an explicit stack: an Idle neighbour is walked completely before the
// next neighbour is looked at and counts as unfinished; a pending or queued one
// counts as unfinished; anything else counts as finished. A node none of whose
// neighbours is unfinished is queued.
void Node::Schedule(Executor* executor, Direction direction) {
  const bool forward = direction == kForward;
  const NodeState pending = forward ? NodeState::StartPending : NodeState::StopPending;
  const NodeState queued = forward ? NodeState::StartQueued : NodeState::StopQueued;
  const NodeState done = forward ? NodeState::Started : NodeState::Stopped;
  if (state_ == queued || state_ == done) return;

  struct Frame {
    Node* node;
    size_t next;
    bool unfinished;
  };
  std::vector<Frame> stack;
  auto enter = [&](Node* n) REQUIRES(graphLock) {
    if (n->state_ == NodeState::Idle) n->state_ = pending;
    stack.push_back(Frame{n, 0, false});
  };
  enter(this);
  while (!stack.empty()) {
    Frame& top = stack.back();
    const std::vector<Node*>& edges = forward ? top.node->dependencies_ : top.node->dependents_;
    if (top.next < edges.size()) {
      Node* neighbour = edges[top.next++];
      if (neighbour->state_ == NodeState::Idle) {
        top.unfinished = true;
        enter(neighbour);  // invalidates `top`
      } else if (neighbour->state_ == pending || neighbour->state_ == queued) {
        top.unfinished = true;
      }
      continue;
    }
    Node* node = top.node;
    bool unfinished = top.unfinished;
    stack.pop_back();
    if (!unfinished) {
      node->state_ = queued;
      executor->Enqueue(node);
    }
  }
}

void Node::RunStart(Executor* executor) {
  RunGuarded("activating", name_, [&] { Activate(executor); });
  Finish(executor, kForward);
}

void Node::RunStop(Executor* executor) {
  RunGuarded("deactivating", name_, [&] { Deactivate(executor); });
  Finish(executor, kBackward);
}

void Node::Run(Executor* executor) {
  NodeState state = State();
  if (state == NodeState::StartQueued) {
    RunStart(executor);
  } else {
    RunStop(executor);
  }
}

void Node::Skip(Executor* executor) {
  Finish(executor, State() == NodeState::StartQueued ? kForward : kBackward);
}

void Node::Finish(Executor* executor, Direction direction) {
  const bool forward = direction == kForward;
  times.ended = TimeValue::Now();
  GraphLockHolder lock;
  state_ = forward ? NodeState::Started : NodeState::Stopped;
  const NodeState pending = forward ? NodeState::StartPending : NodeState::StopPending;
  // Copy: scheduling may not change these lists, but the copy keeps the loop
  // obviously safe.
  std::vector<Node*> next = forward ? dependents_ : dependencies_;
  for (Node* n : next) {
    if (n->state_ == pending) n->Schedule(executor, direction);
  }
  pthread_cond_broadcast(&finished_);
}

void Node::WaitStarted() { WaitFor(NodeState::Started); }

void Node::WaitStopped() { WaitFor(NodeState::Stopped); }

void Node::WaitFor(NodeState state) {
  GraphLockHolder lock;
  while (state_ != state) GraphLock::Wait(&finished_);
}

int32_t Node::DependencyDepth() { return Depth(kForward); }

int32_t Node::DependentDepth() { return Depth(kBackward); }

// Forward: the depth over dependencies; backward: over dependents. Post-order
// over an explicit stack; a node's depth is 0 without edges, else 1 + the
// largest depth of its neighbours.
int32_t Node::Depth(Direction direction) {
  const bool forward = direction == kForward;
  auto depthOf = [forward](Node* n) REQUIRES(graphLock) -> int32_t& {
    return forward ? n->dependencyDepth_ : n->dependentDepth_;
  };
  GraphLockHolder lock;
  if (depthOf(this) >= 0) return depthOf(this);

  struct Frame {
    Node* node;
    size_t next;
    int32_t best;
  };
  std::vector<Frame> stack;
  depthOf(this) = kDepthInProgress;
  stack.push_back(Frame{this, 0, -1});
  while (!stack.empty()) {
    Frame& top = stack.back();
    const std::vector<Node*>& edges = forward ? top.node->dependencies_ : top.node->dependents_;
    if (top.next < edges.size()) {
      Node* neighbour = edges[top.next++];
      int32_t d = depthOf(neighbour);
      if (d >= 0) {
        top.best = std::max(top.best, d);
      } else if (d == -1) {
        depthOf(neighbour) = kDepthInProgress;
        stack.push_back(Frame{neighbour, 0, -1});  // invalidates `top`
      }
      // kDepthInProgress: an edge that closes a cycle adds nothing.
      continue;
    }
    int32_t depth = top.best + 1;
    Node* node = top.node;
    depthOf(node) = depth;
    stack.pop_back();
    if (!stack.empty()) stack.back().best = std::max(stack.back().best, depth);
  }
  return depthOf(this);
}

}  // namespace bootcrank
