// Cost of discovery: loading one JSON descriptor, reading the debug
// injection file, and the whole discovery of a directory of descriptors
// beside a debug injection file (which discovery consults for every file).
//
// The benchmark makes its own host root in /tmp (BOOTCRANK_ROOT is set to
// it before anything reads the variable) and removes it at the end.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "plugins/debug_config.h"
#include "graph/graph.h"
#include "plugins/discovery.h"
#include "plugins/json_plugin.h"
#include "base/settings.h"

namespace bootcrank {
namespace {

std::string g_root;

std::string PluginDirectory(int64_t descriptors) {
  std::string dir = g_root + "/plugins-" + std::to_string(descriptors);
  if (boost::filesystem::exists(dir)) return dir;
  boost::filesystem::create_directories(dir);
  for (int64_t i = 0; i < descriptors; ++i) {
    std::ofstream(dir + "/p" + std::to_string(i) + ".json")
        << "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [],"
           " \"run_once\": false, \"plugin_version\": \"1.0\"},"
           " \"operations\": {\"start\": [\"file append --path=/x --content=y\"]}}";
  }
  return dir;
}

// Debug entries with barriers that nothing else uses, so that repeated
// discoveries only lengthen those barriers' lists.
void WriteDebugConfig(int lines) {
  boost::filesystem::create_directories(g_root + "/etc/quarro/bootcrank");
  std::ofstream out(g_root + "/etc/quarro/bootcrank/debug.conf");
  for (int i = 0; i < lines; ++i) {
    out << "inject" << i << ":bench-in,\"a,b\":bench-out:true\n";
  }
}

void BM_LoadJsonDescriptor(benchmark::State& state) {
  std::string path = PluginDirectory(1) + "/p0.json";
  for (auto _ : state) {
    Graph graph;
    benchmark::DoNotOptimize(graph.Add(std::make_unique<JSONPlugin>(graph, "p0", path)));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ReadDebugEntries(benchmark::State& state) {
  WriteDebugConfig(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadDebugEntries());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Discovery of N descriptors with a 100-line debug file, each into a new graph.
void BM_DiscoverPlugins(benchmark::State& state) {
  const int64_t descriptors = state.range(0);
  Settings& settings = Settings::Instance();
  settings.pluginDirectory = PluginDirectory(descriptors);
  WriteDebugConfig(100);
  for (auto _ : state) {
    state.PauseTiming();
    auto graph = std::make_unique<Graph>();
    state.ResumeTiming();
    RunList runList;
    std::set<std::string> runOnceSet;
    DiscoverPlugins(*graph, {}, {}, runOnceSet, settings, runList);
    state.PauseTiming();
    graph.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * descriptors);
}

BENCHMARK(BM_LoadJsonDescriptor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadDebugEntries)->Arg(100)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiscoverPlugins)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bootcrank

int main(int argc, char** argv) {
  char pattern[] = "/tmp/bootcrank-discovery-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  bootcrank::g_root = pattern;
  setenv("BOOTCRANK_ROOT", pattern, 1);
  // The log goes to standard output; keep the report readable.
  int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  int report = dup(STDOUT_FILENO);
  dup2(devnull, STDOUT_FILENO);
  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter console;
  // The report goes to the saved standard output.
  std::ofstream reportFile("/dev/fd/" + std::to_string(report));
  console.SetOutputStream(&reportFile);
  console.SetErrorStream(&reportFile);
  benchmark::RunSpecifiedBenchmarks(&console);
  benchmark::Shutdown();
  reportFile.flush();
  boost::filesystem::remove_all(pattern);
  return 0;
}
