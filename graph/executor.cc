#include "graph/executor.h"

#include <cstdlib>
#include <string>

#include "base/graph_lock.h"
#include "graph/node.h"
#include "host/termination.h"
#include "base/exception.h"

namespace bootcrank {

namespace {

int StartPosixThread(pthread_t* thread, void* (*routine)(void*), void* arg) {
  return pthread_create(thread, nullptr, routine, arg);
}

}  // namespace

Executor::Executor(int32_t threadCount, bool randomize)
    : Executor(threadCount, randomize, StartPosixThread) {}

Executor::Executor(int32_t threadCount, bool randomize, const ThreadStarter& startThread)
    : randomize_(randomize) {
  if (pthread_cond_init(&workSignal_, nullptr) != 0) {
    throw Exception("Condition variable for Executor could not be initialized");
  }
  for (int32_t i = 0; i < threadCount; ++i) {
    auto worker = std::make_unique<Worker>(Worker{this, i, pthread_t()});
    if (startThread(&worker->thread, &Executor::WorkerMain, worker.get()) != 0) {
      StopAndJoin();
      pthread_cond_destroy(&workSignal_);
      throw Exception("Could not create enough execution threads. (" + std::to_string(i) +
                      " created, " + std::to_string(threadCount) + "requested)");
    }
    GraphLockHolder lock;
    workers_.push_back(std::move(worker));
  }
}

Executor::~Executor() {
  StopAndJoin();
  pthread_cond_destroy(&workSignal_);
}

void Executor::StopAndJoin() {
  std::vector<pthread_t> threads;
  {
    GraphLockHolder lock;
    stop_ = true;
    pthread_cond_broadcast(&workSignal_);
    for (const std::unique_ptr<Worker>& worker : workers_) threads.push_back(worker->thread);
  }
  // Joining must not hold GraphLock: a worker needs it to finish its node.
  for (pthread_t thread : threads) pthread_join(thread, nullptr);
}

void Executor::Enqueue(Node* node) {
  GraphLockHolder lock;
  // A start run prefers the node on which the longest chain of dependents
  // waits; a stop run the one with the longest chain of dependencies.
  int32_t depth =
      node->State() == NodeState::StartQueued ? node->DependentDepth() : node->DependencyDepth();
  node->queueSequence = nextSequence_++;
  node->times.ready = TimeValue::Now();
  ready_.Push(node, node->ExecutionClass(), depth, node->queueSequence);
  pthread_cond_broadcast(&workSignal_);
}

Node* Executor::SelectNext() {
  size_t pick = 0;
  if (randomize_) pick = static_cast<size_t>(rand()) % ready_.TiedCount();
  return ready_.Take(pick);
}

void* Executor::WorkerMain(void* arg) {
  Worker* worker = static_cast<Worker*>(arg);
  worker->executor->WorkLoop(worker->index);
  return nullptr;
}

void Executor::WorkLoop(int32_t index) {
  GraphLock::Lock();
  while (!stop_) {
    if (ready_.Empty()) {
      GraphLock::Wait(&workSignal_);
      continue;
    }
    Node* node = SelectNext();
    GraphLock::Unlock();
    // After a termination signal no node starts: each still completes, so
    // that every wait for it returns and the run can finish its outputs.
    node->times.worker = index;
    node->times.started = TimeValue::Now();
    if (host::TerminationSignal() != 0) {
      node->times.skipped = true;
      node->Skip(this);
    } else {
      node->Run(this);
    }
    GraphLock::Lock();
  }
  GraphLock::Unlock();
}

void StartRun(const std::vector<Node*>& plugins, Executor* executor) {
  for (Node* plugin : plugins) plugin->ScheduleStart(executor);
  for (Node* plugin : plugins) plugin->WaitStarted();
}

void StopRun(const std::vector<Node*>& plugins, Executor* executor) {
  for (Node* plugin : plugins) plugin->ScheduleStop(executor);
  for (Node* plugin : plugins) plugin->WaitStopped();
}

}  // namespace bootcrank
