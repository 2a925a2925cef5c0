// Executor: runs the dependency graph on a fixed pool of worker threads.
//
// Graph walks queue ready nodes (Enqueue); each worker repeatedly takes the
// most urgent ready node (SelectNext), runs it without GraphLock, and lets
// its completion queue the nodes it held back. Urgency: lowest execution
// class first, then the greatest scheduling depth, then the earliest queued;
// with randomize, one rand() draw among the equally urgent.
//
// Thread-safety: the ready queue, the worker list and the stop flag are
// guarded by GraphLock.
#ifndef BOOTCRANK_GRAPH_EXECUTOR_H_
#define BOOTCRANK_GRAPH_EXECUTOR_H_

#include <cstdint>

#include "plugins/plugin.h"

namespace bootcrank {

class Node;

class Executor {
 public:
  // Starts `threadCount` workers (none when below 1). Throws Exception when
  // the work signal cannot be set up or a worker cannot be created (after
  // joining the workers already created).
  Executor(int32_t threadCount, bool randomize);
  // Sets the stop flag, wakes and joins every worker. Queued nodes not yet
  // taken are not run; running nodes finish first.
  virtual ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Appends a StartQueued or StopQueued node to the ready queue and wakes the
  // workers. Takes GraphLock.
  void Enqueue(Node* node);

  // The ready node to run next, removed from the queue.
  // REQUIRES: GraphLock held and the queue not empty.
  Node* SelectNext();

  // ... the implementation adds its private state here.
};

// The start run: ScheduleStart for every plugin in list order, then
// WaitStarted for each in the same order.
void StartRun(const RunList& plugins, Executor* executor);
// The stop run: ScheduleStop and WaitStopped, likewise.
void StopRun(const RunList& plugins, Executor* executor);

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_EXECUTOR_H_
