// Code that forgets GraphLock, one mistake per FORGET_<case> macro, compiled
// (not run) by the lock_rules tests with the build's own warning options:
// clang must name each mistake. FORGET_none is the same code with the lock
// held, which must compile without a word.
#include <pthread.h>

#include "base/graph_lock.h"
#include "graph/executor.h"
#include "graph/node.h"

namespace bootcrank {

// An edge list read outside the lock.
size_t CountDependencies(const Node& node) {
#ifndef FORGET_dependencies
  GraphLockHolder lock;
#endif
  return node.Dependencies().size();
}

// An edge list read again after the holder's scope has ended.
size_t CountEdges(const Node& node) {
  size_t count;
  {
    GraphLockHolder lock;
    count = node.Dependencies().size();
  }
#ifdef FORGET_scope
  count += node.Dependents().size();
#endif
  return count;
}

// The executor's queue taken from without the lock.
Node* TakeNext(Executor& executor) {
#ifndef FORGET_select
  GraphLockHolder lock;
#endif
  return executor.SelectNext();
}

// A wait on a condition variable without the lock to release.
void WaitOnce(pthread_cond_t* condition) {
#ifndef FORGET_wait
  GraphLockHolder lock;
#endif
  GraphLock::Wait(condition);
}

// The lock taken by hand and left held on one path.
bool TakeAndRelease(bool early) {
  GraphLock::Lock();
#ifdef FORGET_unlock
  if (early) return false;
#endif
  GraphLock::Unlock();
  return early;
}

// Scheduler bookkeeping written without the lock.
void Renumber(Node& node) {
#ifndef FORGET_sequence
  GraphLockHolder lock;
#endif
  node.queueSequence = 0;
}

}  // namespace bootcrank
