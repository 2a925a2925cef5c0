// Graph test nodes and plugins that record when they run, unique names for
// the process-wide barrier registry, and a scratch host root. Nodes linked
// to a registered barrier must outlive the registry (a later cycle search
// walks every barrier's edges): make them with Keep().
#ifndef BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_
#define BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/graph_lock.h"
#include "graph/node.h"
#include "plugins/plugin.h"
#include "support/sandbox.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace testing {

// A logical clock and the names in the order their work began.
struct RunRecord {
  std::atomic<uint64_t> clock{0};
  std::mutex mutex;
  std::vector<std::string> order;
};

// Stamps around one kind of work: a dependency's `end` precedes `begin`.
struct Stamps {
  std::atomic<int> runs{0};
  uint64_t begin = 0, end = 0;
  void Work(RunRecord* record, const std::string& name, bool fail = false) {
    ++runs;
    {
      std::lock_guard<std::mutex> lock(record->mutex);
      record->order.push_back(name);
      begin = record->clock++;
    }
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

// Recording nodes owned by the test (no barriers involved).
struct Graph {
  RecordingNode* Add(const std::string& name, const std::vector<Node*>& dependencies = {},
                     uint32_t executionClass = 1, bool fail = false) {
    nodes.push_back(std::make_unique<RecordingNode>(name, &record, executionClass, fail));
    for (Node* dependency : dependencies) nodes.back()->AddDependency(dependency);
    return nodes.back().get();
  }
  RunRecord record;
  std::vector<std::unique_ptr<RecordingNode>> nodes;
};

// Goes through the real plugin activation: use it under a ScratchHostRoot.
struct RecordingPlugin : Plugin {
  RecordingPlugin(const std::string& name, RunRecord* record, uint32_t executionClass = 1)
      : Plugin(name, executionClass), record(record) {}
  void Start() override { started.Work(record, Name()); }
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {}
  RunRecord* record;
  Stamps started;
};

template <typename T>
T* Keep(T* node) {
  static auto* kept = new std::vector<std::unique_ptr<Node>>();
  GraphLockHolder lock;
  kept->emplace_back(node);
  return node;
}

// Unique even under --gtest_repeat.
inline std::string UniqueName(const std::string& suffix) {
  static std::atomic<int> serial{0};
  return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "#" +
         std::to_string(serial++) + "/" + suffix;
}

// BOOTCRANK_ROOT is a scratch directory with a regular dev/kmsg while this
// lives, keeping kernel-log writes and console switches off the machine.
struct ScratchHostRoot : TempRoot {
  ScratchHostRoot() { Write("dev/kmsg", ""); }
};

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_
