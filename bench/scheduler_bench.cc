// Cost of choosing ready nodes: draining a ready queue of N independent
// nodes, and scheduling a chain in which one node at a time is ready. The
// per-node cost should stay flat as N grows (about linear in total).
//
//   bench_scheduler --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "graph/executor.h"
#include "base/graph_lock.h"
#include "graph/node.h"

namespace bootcrank {
namespace {

class EmptyNode : public Node {
 public:
  explicit EmptyNode(const std::string& name) : Node(name, 1) {}
  void Activate(Executor*) override {}
  std::string DotAttributes() const override { return ""; }
};

std::vector<std::unique_ptr<EmptyNode>> MakeNodes(int64_t count) {
  std::vector<std::unique_ptr<EmptyNode>> nodes;
  nodes.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    nodes.push_back(std::make_unique<EmptyNode>("n" + std::to_string(i)));
  }
  return nodes;
}

// Times `work` on state.range(0) fresh nodes (a chain when `chain`) and a
// worker-less executor; building and tearing them down is not timed.
template <typename Work>
void TimeOnFreshNodes(benchmark::State& state, bool chain, bool randomize, Work work) {
  const int64_t count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::unique_ptr<EmptyNode>> nodes = MakeNodes(count);
    if (chain) {
      for (int64_t i = 1; i < count; ++i) nodes[i]->AddDependency(nodes[i - 1].get());
    }
    auto executor = std::make_unique<Executor>(0, randomize);
    state.ResumeTiming();

    work(nodes, executor.get());

    state.PauseTiming();
    executor.reset();
    nodes.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetComplexityN(count);
}

// N independent ready nodes queued (all equally urgent, the worst case for
// ties), then every one taken with SelectNext.
void DrainIndependent(benchmark::State& state, bool randomize) {
  TimeOnFreshNodes(state, false, randomize, [](auto& nodes, Executor* executor) {
    for (auto& node : nodes) node->ScheduleStart(executor);
    GraphLockHolder lock;
    for (size_t i = 0; i < nodes.size(); ++i) benchmark::DoNotOptimize(executor->SelectNext());
  });
}

void BM_SelectNextIndependent(benchmark::State& state) { DrainIndependent(state, false); }
void BM_SelectNextIndependentRandomized(benchmark::State& state) {
  DrainIndependent(state, true);
}

// A chain run the way a worker runs it, without threads: take the one ready
// node, run it, which queues the next.
void BM_SelectNextChain(benchmark::State& state) {
  TimeOnFreshNodes(state, true, false, [](auto& nodes, Executor* executor) {
    nodes.back()->ScheduleStart(executor);
    for (size_t i = 0; i < nodes.size(); ++i) {
      Node* next;
      {
        GraphLockHolder lock;
        next = executor->SelectNext();
      }
      next->Run(executor);
    }
  });
}

BENCHMARK(BM_SelectNextIndependent)
    ->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_SelectNextIndependentRandomized)
    ->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_SelectNextChain)
    ->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace
}  // namespace bootcrank

BENCHMARK_MAIN();
