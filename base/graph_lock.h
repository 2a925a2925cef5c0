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
//
// For clang's -Wthread-safety the lock is the capability `graphLock`: data it
// guards is declared GUARDED_BY(graphLock), functions that expect it held
// REQUIRES(graphLock). The analysis does not model recursion, so a function
// that takes the lock must not be annotated as requiring it.
#ifndef BOOTCRANK_BASE_GRAPH_LOCK_H_
#define BOOTCRANK_BASE_GRAPH_LOCK_H_

#include <pthread.h>

#include "base/thread_annotations.h"

namespace bootcrank {

class CAPABILITY("mutex") GraphMutex {
 public:
  void Lock() ACQUIRE() { pthread_mutex_lock(&mutex_); }
  void Unlock() RELEASE() { pthread_mutex_unlock(&mutex_); }
  // The mutex itself, for pthread_cond_wait.
  pthread_mutex_t* Native() { return &mutex_; }

  pthread_mutex_t mutex_ = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
};

// The graph lock itself; constant-initialised, so usable before main.
extern GraphMutex graphLock;

class GraphLock {
 public:
  // The mutex itself, for pthread_cond_wait.
  static pthread_mutex_t* Native() { return graphLock.Native(); }
  static void Lock() ACQUIRE(graphLock) { graphLock.Lock(); }
  static void Unlock() RELEASE(graphLock) { graphLock.Unlock(); }
  // Waits on `condition` with the lock as its mutex: releases the lock while
  // waiting and holds it again on return. The analysis cannot see the release
  // inside pthread_cond_wait, but held on entry and held on return is all a
  // caller may rely on, so REQUIRES describes the wait exactly. The caller
  // holds the lock once (a recursive hold would stay held while waiting) and
  // re-checks its condition after every return.
  static void Wait(pthread_cond_t* condition) REQUIRES(graphLock) {
    pthread_cond_wait(condition, graphLock.Native());
  }
};

// Holds GraphLock for a scope.
class SCOPED_CAPABILITY GraphLockHolder {
 public:
  GraphLockHolder() ACQUIRE(graphLock) { graphLock.Lock(); }
  ~GraphLockHolder() RELEASE() { graphLock.Unlock(); }
  GraphLockHolder(const GraphLockHolder&) = delete;
  GraphLockHolder& operator=(const GraphLockHolder&) = delete;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_BASE_GRAPH_LOCK_H_
