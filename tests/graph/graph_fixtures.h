// Real graph nodes for the graph tests: nodes and plugins that record when
// they run, a scratch host root for plugin activation, and unique names for
// the process-wide barrier registry.
//
// Ownership: nodes linked to a registered barrier must outlive the process's
// registry (a later cycle search walks every barrier's edges), so such nodes
// are made with Keep(), which never frees them. Graphs without barriers may
// be owned by the test.
#ifndef BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_
#define BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/executor.h"
#include "graph/graph_lock.h"
#include "graph/node.h"
#include "plugins/plugin.h"

namespace bootcrank {
namespace testing {

// The shared record of one run: a logical clock and the activation order.
struct RunRecord {
  std::atomic<uint64_t> clock{0};
  std::mutex mutex;
  std::vector<std::string> order;  // names, in the order their work began

  uint64_t Note(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(name);
    return clock++;
  }
  std::vector<std::string> Order() {
    std::lock_guard<std::mutex> lock(mutex);
    return order;
  }
};

// What a recording node or plugin does besides recording.
enum class Failure { None, StdException, OtherException };

// Stamps taken around a node's work: every dependency's `end` must come
// before the node's `begin`.
struct Stamps {
  std::atomic<int> runs{0};
  uint64_t begin = 0;
  uint64_t end = 0;

  void Work(RunRecord* record, const std::string& name, Failure failure) {
    ++runs;
    begin = record->Note(name);
    end = record->clock++;
    if (failure == Failure::StdException) throw std::runtime_error("broken " + name);
    if (failure == Failure::OtherException) throw 42;
  }
};

class RecordingNode : public Node {
 public:
  RecordingNode(const std::string& name, RunRecord* record, uint32_t executionClass = 1,
                Failure failure = Failure::None)
      : Node(name, executionClass), record_(record), failure_(failure) {}

  void Activate(Executor*) override { started.Work(record_, Name(), failure_); }
  void Deactivate(Executor*) override { stopped.Work(record_, Name(), failure_); }
  std::string DotAttributes() const override { return ""; }

  Stamps started;
  Stamps stopped;

 private:
  RunRecord* record_;
  Failure failure_;
};

// A plugin whose start only records; activated through the real plugin
// activation (so use it under a ScratchHostRoot).
class RecordingPlugin : public Plugin {
 public:
  RecordingPlugin(const std::string& name, RunRecord* record, uint32_t executionClass = 1)
      : Plugin(name, executionClass), record_(record) {}

  void Start() override { started.Work(record_, Name(), Failure::None); }
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {}
  void Deactivate(Executor*) override { stopped.Work(record_, Name(), Failure::None); }

  Stamps started;
  Stamps stopped;

 private:
  RunRecord* record_;
};

// The provider check's text for a barrier required by `users`.
inline std::string MissingProvider(const std::string& barrier,
                                   const std::vector<std::string>& users) {
  std::string text = "Bootcrank dependency error: Initialization barrier \"" + barrier +
                     "\" is not provided by any plugin but the following plugins require it: ";
  for (size_t i = 0; i < users.size(); ++i) {
    text += (i > 0 ? ", \"" : "\"") + users[i] + "\"";
  }
  return text;
}

// Never freed: see the ownership note above.
template <typename T>
T* Keep(T* node) {
  static auto* kept = new std::vector<std::unique_ptr<Node>>();
  GraphLockHolder lock;
  kept->emplace_back(node);
  return node;
}

// A name no other test uses, even under --gtest_repeat: the current test's
// name, a serial number and `suffix`.
inline std::string UniqueName(const std::string& suffix) {
  static std::atomic<int> serial{0};
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->name()) + "#" + std::to_string(serial++) + "/" + suffix;
}

// Points BOOTCRANK_ROOT at a scratch directory holding dev/kmsg (a regular
// file) while it lives, so that plugin activation's kernel-log writes stay
// out of the machine's own log.
class ScratchHostRoot {
 public:
  ScratchHostRoot() {
    char dir[] = "/tmp/bootcrank-graph-XXXXXX";
    root_ = mkdtemp(dir);
    mkdir((root_ + "/dev").c_str(), 0755);
    std::ofstream(root_ + "/dev/kmsg").flush();
    const char* old = getenv("BOOTCRANK_ROOT");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
  }
  ~ScratchHostRoot() {
    if (hadOld_) {
      setenv("BOOTCRANK_ROOT", old_.c_str(), 1);
    } else {
      unsetenv("BOOTCRANK_ROOT");
    }
    unlink((root_ + "/dev/kmsg").c_str());
    rmdir((root_ + "/dev").c_str());
    rmdir(root_.c_str());
  }
  ScratchHostRoot(const ScratchHostRoot&) = delete;
  ScratchHostRoot& operator=(const ScratchHostRoot&) = delete;

  // What the kernel log received.
  std::string KernelLog() const {
    std::ifstream in(root_ + "/dev/kmsg");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string root_;
  bool hadOld_ = false;
  std::string old_;
};

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_GRAPH_GRAPH_FIXTURES_H_
