// Graph test nodes and plugins that record when they run, a real graph that
// owns them, and a scratch host root.
#ifndef BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_
#define BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "graph/node.h"
#include "plugins/plugin.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace testing {

// A logical clock and the names in the order their work began.
struct RunRecord {
  std::mutex mutex;
  uint64_t clock = 0;
  std::vector<std::string> order;
};

// Stamps of one kind of work: a dependency's `end` precedes `begin`.
struct Stamps {
  std::atomic<int> runs{0};
  uint64_t begin = 0, end = 0;
  void Work(RunRecord* record, const std::string& name, bool fail = false) {
    std::lock_guard<std::mutex> lock(record->mutex);
    ++runs;
    record->order.push_back(name);
    begin = record->clock++;
    end = record->clock++;
    if (fail) throw std::runtime_error("broken " + name);
  }
};

struct RecordingNode : Node {
  RecordingNode(const std::string& name, RunRecord* record, uint32_t executionClass, bool fail)
      : Node(name, executionClass), record(record), fail(fail) {}
  void Activate(Executor*) override { started.Work(record, Name(), fail); }
  void Deactivate(Executor*) override { stopped.Work(record, Name(), fail); }
  std::string DotAttributes() const override { return ""; }
  RunRecord* record;
  bool fail;
  Stamps started, stopped;
};

// Goes through the real plugin activation: use it under a ScratchHostRoot.
struct RecordingPlugin : Plugin {
  RecordingPlugin(const std::string& name, RunRecord* record, uint32_t executionClass = 1)
      : Plugin(name, executionClass), record(record) {}
  const char* Kind() const override { return "test"; }
  void Start() override { started.Work(record, Name()); }
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {}
  RunRecord* record;
  Stamps started;
};

// A graph of the test's own, its nodes recording into one run record.
struct TestGraph {
  RecordingNode* Add(const std::string& name, const std::vector<Node*>& dependencies = {},
                     uint32_t executionClass = 1, bool fail = false) {
    nodes.push_back(
        graph.Add(std::make_unique<RecordingNode>(name, &record, executionClass, fail)));
    for (Node* dependency : dependencies) nodes.back()->AddDependency(dependency);
    return nodes.back();
  }
  template <typename PluginKind = RecordingPlugin>
  PluginKind* AddPlugin(const std::string& name, uint32_t executionClass = 1) {
    return graph.Add(std::make_unique<PluginKind>(name, &record, executionClass));
  }
  RunRecord record;  // outlives the nodes
  Graph graph;
  std::vector<RecordingNode*> nodes;  // those of Add, in order
};

// BOOTCRANK_ROOT is a scratch directory with a regular dev/kmsg while this
// lives, keeping kernel-log writes and console switches off the machine.
struct ScratchHostRoot : TempRoot {
  ScratchHostRoot() { Write("dev/kmsg", ""); }
};

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_
