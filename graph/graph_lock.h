// GraphLock: the one process-wide recursive mutex.
//
// It guards the dependency graph (every node's edge lists, state and depths),
// the barrier registry and the priority levels, the executor's ready queue,
// the first creation of the settings object, the host-profile lookup of
// activation and the executor-process reset of HvcliExecutor::Execute.
//
// It is a POSIX recursive mutex so that node and executor condition variables
// can wait on it; a thread waits only while holding it once. Nothing that runs
// in a forked child may take it.
#ifndef BOOTCRANK_GRAPH_GRAPH_LOCK_H_
#define BOOTCRANK_GRAPH_GRAPH_LOCK_H_

#include <pthread.h>

namespace bootcrank {

class GraphLock {
 public:
  // The mutex itself, for pthread_cond_wait.
  static pthread_mutex_t* Native();
  static void Lock();
  static void Unlock();
};

// Holds GraphLock for a scope.
class GraphLockHolder {
 public:
  GraphLockHolder() { GraphLock::Lock(); }
  ~GraphLockHolder() { GraphLock::Unlock(); }
  GraphLockHolder(const GraphLockHolder&) = delete;
  GraphLockHolder& operator=(const GraphLockHolder&) = delete;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_GRAPH_LOCK_H_
