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
#include "graph/graph_lock.h"
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

// N independent ready nodes queued (all equally urgent, the worst case for
// ties), then every one taken with SelectNext.
void DrainIndependent(benchmark::State& state, bool randomize) {
  const int64_t count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::unique_ptr<EmptyNode>> nodes = MakeNodes(count);
    auto executor = std::make_unique<Executor>(0, randomize);
    state.ResumeTiming();

    for (auto& node : nodes) node->ScheduleStart(executor.get());
    GraphLockHolder lock;
    for (int64_t i = 0; i < count; ++i) benchmark::DoNotOptimize(executor->SelectNext());

    state.PauseTiming();
    executor.reset();
    nodes.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetComplexityN(count);
}

void BM_SelectNextIndependent(benchmark::State& state) { DrainIndependent(state, false); }
void BM_SelectNextIndependentRandomized(benchmark::State& state) {
  DrainIndependent(state, true);
}

// A chain run the way a worker runs it, without threads: take the one ready
// node, run it, which queues the next.
void BM_SelectNextChain(benchmark::State& state) {
  const int64_t count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::unique_ptr<EmptyNode>> nodes = MakeNodes(count);
    for (int64_t i = 1; i < count; ++i) nodes[i]->AddDependency(nodes[i - 1].get());
    auto executor = std::make_unique<Executor>(0, false);
    state.ResumeTiming();

    nodes.back()->ScheduleStart(executor.get());
    for (int64_t i = 0; i < count; ++i) {
      Node* next;
      {
        GraphLockHolder lock;
        next = executor->SelectNext();
      }
      next->Run(executor.get());
    }

    state.PauseTiming();
    executor.reset();
    nodes.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetComplexityN(count);
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
