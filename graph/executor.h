// Executor: runs the dependency graph on a fixed pool of worker threads.
//
// Graph walks queue ready nodes (Enqueue); each worker repeatedly takes the
// most urgent ready node (SelectNext), runs it without GraphLock, and lets
// its completion queue the nodes it held back. Urgency: lowest execution
// class first, then the greatest scheduling depth, then the earliest queued;
// with randomize, one rand() draw among the equally urgent. Once the program
// received a termination signal, workers complete the nodes they take
// without running them.
//
// Thread-safety: the ready queue, the worker list and the stop flag are
// guarded by GraphLock.
#ifndef BOOTCRANK_GRAPH_EXECUTOR_H_
#define BOOTCRANK_GRAPH_EXECUTOR_H_

#include <pthread.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/graph_lock.h"
#include "graph/ready_queue.h"

namespace bootcrank {

class Node;

class Executor {
 public:
  // Starts one worker thread running routine(arg) and stores its handle, as
  // pthread_create with default attributes does; returns 0 or an error number.
  using ThreadStarter = std::function<int(pthread_t* thread, void* (*routine)(void*), void* arg)>;

  // Starts `threadCount` workers (none when below 1). Throws Exception when
  // the work signal cannot be set up or a worker cannot be created (after
  // stopping and joining the workers already created).
  Executor(int32_t threadCount, bool randomize);
  // The same with another way to start threads (tests make it fail).
  Executor(int32_t threadCount, bool randomize, const ThreadStarter& startThread);
  // Sets the stop flag, wakes and joins every worker. Queued nodes not yet
  // taken are not run; running nodes finish first.
  virtual ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Appends a StartQueued or StopQueued node to the ready queue and wakes the
  // workers. Takes GraphLock. Computes the node's scheduling depth (which
  // the graph caches), so the graph must be complete.
  void Enqueue(Node* node);

  // The ready node to run next, removed from the queue. The queue must not
  // be empty.
  Node* SelectNext() REQUIRES(graphLock);

 private:
  // What each worker thread receives; the index is informational only.
  struct Worker {
    Executor* executor;
    int32_t index;
    pthread_t thread;
  };

  static void* WorkerMain(void* arg);
  void WorkLoop(int32_t index);
  // Sets the stop flag, wakes and joins every worker in creation order.
  void StopAndJoin();

  pthread_cond_t workSignal_;  // waited on with GraphLock
  ReadyQueue ready_ GUARDED_BY(graphLock);
  std::vector<std::unique_ptr<Worker>> workers_ GUARDED_BY(graphLock);
  bool stop_ GUARDED_BY(graphLock) = false;
  bool randomize_;
  uint64_t nextSequence_ GUARDED_BY(graphLock) = 0;
};

// The start run: ScheduleStart for every plugin in list order, then
// WaitStarted for each in the same order.
void StartRun(const std::vector<Node*>& plugins, Executor* executor);
// The stop run: ScheduleStop and WaitStopped, likewise.
void StopRun(const std::vector<Node*>& plugins, Executor* executor);

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_EXECUTOR_H_
