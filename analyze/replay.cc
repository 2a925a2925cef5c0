#include "analyze/replay.h"

#include <algorithm>
#include <cstdint>
#include <queue>
#include <set>
#include <stdexcept>
#include <tuple>

namespace bootcrank {
namespace analyze {

namespace {

enum class State { kIdle, kPending, kQueued, kDone };

// a + b for b >= 0, held at a ceiling far beyond any real time instead of
// overflowing: thousands of nodes of absurd recorded durations add up.
Micros SaturatingAdd(Micros a, Micros b) {
  const Micros ceiling = INT64_MAX / 4;
  return a > ceiling - b ? ceiling : a + b;
}

class Simulation {
 public:
  Simulation(const BootGraph& graph, const std::vector<Micros>& cost, int workers, Micros dispatch)
      : graph_(graph),
        cost_(cost),
        workers_(workers),
        dispatch_(dispatch),
        state_(graph.Size(), State::kIdle),
        ready_(graph.Size(), kNoTime),
        started_(graph.Size(), kNoTime),
        ended_(graph.Size(), kNoTime),
        worker_(graph.Size(), -1) {
    for (size_t i = 0; i < graph.Size(); ++i)
      if (!graph.Node(i).Ran()) state_[i] = State::kDone;
  }

  void Run(Micros t0) {
    now_ = t0;
    for (size_t i = 0; i < graph_.Size(); ++i)
      if (!graph_.Node(i).barrier) Schedule(i);
    // A node that ran but that no plugin's walk reaches (a barrier nothing
    // waits for, in a record not written by the executor's walk) runs as
    // the record says it did.
    for (size_t i = 0; i < graph_.Size(); ++i)
      if (state_[i] == State::kIdle) Schedule(i);
    std::set<int> free;
    for (int w = 0; w < workers_; ++w) free.insert(w);
    // (end, sequence, node) of the running nodes, earliest end first.
    using Running = std::tuple<Micros, uint64_t, size_t>;
    std::priority_queue<Running, std::vector<Running>, std::greater<Running>> running;
    uint64_t sequence = 0;
    for (;;) {
      while (!free.empty() && !queue_.empty()) {
        size_t node = std::get<3>(*queue_.begin());
        queue_.erase(queue_.begin());
        int w = *free.begin();
        free.erase(free.begin());
        worker_[node] = w;
        started_[node] = SaturatingAdd(now_, dispatch_);
        ended_[node] = SaturatingAdd(started_[node], cost_[node]);
        running.emplace(ended_[node], sequence++, node);
      }
      if (running.empty()) break;
      size_t node = std::get<2>(running.top());
      now_ = std::get<0>(running.top());
      running.pop();
      free.insert(worker_[node]);
      state_[node] = State::kDone;
      for (size_t d : graph_.Dependents(node))
        if (state_[d] == State::kPending) Schedule(d);
    }
  }

  const BootGraph& graph_;
  const std::vector<Micros>& cost_;
  int workers_;
  Micros dispatch_;
  Micros now_ = 0;
  std::vector<State> state_;
  std::vector<Micros> ready_, started_, ended_;
  std::vector<int> worker_;

 private:
  // The executor's forward walk from `root`, without recursion: marks idle
  // nodes pending and queues each whose dependencies have all ended.
  void Schedule(size_t root) {
    if (state_[root] == State::kQueued || state_[root] == State::kDone) return;
    state_[root] = State::kPending;
    struct Step {
      size_t node, next;
      bool unfinished;
    };
    std::vector<Step> stack{{root, 0, false}};
    while (!stack.empty()) {
      Step& top = stack.back();
      const auto& deps = graph_.Dependencies(top.node);
      if (top.next < deps.size()) {
        size_t d = deps[top.next++];
        if (state_[d] == State::kIdle) {
          state_[d] = State::kPending;
          top.unfinished = true;
          stack.push_back({d, 0, false});
        } else if (state_[d] != State::kDone) {
          top.unfinished = true;
        }
        continue;
      }
      size_t node = top.node;
      bool unfinished = top.unfinished;
      stack.pop_back();
      if (!unfinished) {
        state_[node] = State::kQueued;
        ready_[node] = now_;
        queue_.emplace(graph_.Node(node).executionClass, -graph_.DependentDepth(node), sequence_++,
                       node);
      }
    }
  }

  // (class, -depth, queue order, node): the most urgent first.
  std::set<std::tuple<uint32_t, int32_t, uint64_t, size_t>> queue_;
  uint64_t sequence_ = 0;
};

}  // namespace

Micros MeasuredDispatchCost(const BootGraph& graph) {
  // Each worker's nodes in start order tell when the worker was idle.
  std::map<int, std::vector<size_t>> byWorker;
  for (size_t i = 0; i < graph.Size(); ++i)
    if (graph.Node(i).Ran() && graph.Node(i).worker >= 0)
      byWorker[graph.Node(i).worker].push_back(i);
  Micros runStart = graph.RunStart();
  std::vector<Micros> lags;
  for (auto& [worker, nodes] : byWorker) {
    std::sort(nodes.begin(), nodes.end(),
              [&](size_t a, size_t b) { return graph.Node(a).started < graph.Node(b).started; });
    Micros freeSince = runStart;
    for (size_t node : nodes) {
      const RecordNode& n = graph.Node(node);
      Micros released = runStart;
      for (size_t d : graph.Dependencies(node))
        if (graph.Node(d).Ran()) released = std::max(released, graph.Node(d).ended);
      if (freeSince <= released && n.started >= released) lags.push_back(n.started - released);
      freeSince = n.ended;
    }
  }
  if (lags.empty()) return 0;
  std::nth_element(lags.begin(), lags.begin() + lags.size() / 2, lags.end());
  return lags[lags.size() / 2];
}

ReplayResult Replay(const BootGraph& graph, const ReplayOptions& options) {
  const BootRecord& record = graph.Record();
  int workers = options.workers > 0 ? options.workers : record.WorkerCount();
  if (options.workers < 0) throw std::invalid_argument("the worker count must be 1 or more");
  std::vector<Micros> cost(graph.Size());
  // A node recorded as ending before it started takes no time.
  for (size_t i = 0; i < graph.Size(); ++i) cost[i] = std::max<Micros>(graph.Node(i).Duration(), 0);
  for (const auto& [name, duration] : options.durations) {
    const RecordNode* plugin = record.FindPlugin(name);
    if (plugin == nullptr)
      throw std::invalid_argument("no plugin \"" + name + "\" in " + record.path);
    if (!plugin->Ran())
      throw std::invalid_argument("plugin \"" + name + "\" did not run in " + record.path);
    if (duration < 0) throw std::invalid_argument("negative duration for \"" + name + "\"");
    cost[static_cast<size_t>(plugin - record.nodes.data())] = duration;
  }
  ReplayResult result;
  result.predicted = record;
  result.dispatchCost =
      options.dispatchCost != kNoTime ? options.dispatchCost : MeasuredDispatchCost(graph);
  Micros t0 = graph.RunStart();
  if (t0 == kNoTime) return result;
  Simulation sim(graph, cost, workers, result.dispatchCost);
  sim.Run(t0);
  Micros newEnd = kNoTime;
  for (size_t i = 0; i < graph.Size(); ++i) {
    if (!graph.Node(i).Ran()) continue;
    RecordNode& n = result.predicted.nodes[i];
    if (sim.state_[i] != State::kDone) {
      result.neverReady.push_back(n.name);
      n.ready = n.started = n.ended = kNoTime;
      n.worker = -1;
      continue;
    }
    n.ready = sim.ready_[i];
    n.started = sim.started_[i];
    n.ended = sim.ended_[i];
    n.worker = sim.worker_[i];
    newEnd = std::max(newEnd, n.ended);
  }
  result.predicted.workers = workers;
  Micros oldEnd = graph.RunEnd();
  if (record.end != kNoTime && newEnd != kNoTime)
    result.predicted.end = record.end + (newEnd - oldEnd);
  return result;
}

}  // namespace analyze
}  // namespace bootcrank
