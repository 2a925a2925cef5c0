#include "graph/graph_lock.h"

namespace bootcrank {

pthread_mutex_t* GraphLock::Native() {
  static pthread_mutex_t mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
  return &mutex;
}

void GraphLock::Lock() { pthread_mutex_lock(Native()); }

void GraphLock::Unlock() { pthread_mutex_unlock(Native()); }

}  // namespace bootcrank
