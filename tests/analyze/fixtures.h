// Hand-made boot records for the analyser's tests: a node is a line of a
// table (name, after, times in milliseconds from the boot's start), and
// the helpers turn the table into the record JSON that bootcrank writes, a
// parsed BootRecord, or a file in a scratch directory.
#ifndef BOOTCRANK_TESTS_ANALYZE_FIXTURES_H_
#define BOOTCRANK_TESTS_ANALYZE_FIXTURES_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <nlohmann/json.hpp>

#include "analyze/record.h"
#include "analyze/record_reader.h"

namespace bootcrank {
namespace analyze {
namespace testing {

constexpr Micros kBase = 1765000000000000;  // the boot's start
constexpr double kNotRun = -1;

// One plugin or barrier. Times are milliseconds after kBase; kNotRun for a
// node that never ran.
struct NodeRow {
  std::string name;
  std::vector<std::string> after;
  double ready = kNotRun, started = kNotRun, ended = kNotRun;
  int worker = -1;
  std::string result = "succeeded";  // plugins only
  std::string kind = "json";         // barriers: "init"
  unsigned executionClass = 1;
};

inline Micros Ms(double ms) { return kBase + static_cast<Micros>(ms * 1000); }

inline nlohmann::json NodeJson(const NodeRow& s, bool barrier) {
  nlohmann::json n = {{"name", s.name}, {"after", s.after}, {"kind", barrier && s.kind == "json" ? "init" : s.kind}};
  if (!barrier) {
    n["result"] = s.started == kNotRun && s.result == "succeeded" ? "skipped" : s.result;
    n["execution_class"] = s.executionClass;
  }
  if (s.started != kNotRun) {
    n["ready"] = Ms(s.ready == kNotRun ? s.started : s.ready);
    n["started"] = Ms(s.started);
    n["ended"] = Ms(s.ended);
    if (s.worker >= 0) n["worker"] = s.worker;
  }
  return n;
}

// A schema-1 record of `plugins` and `barriers`, `workers` workers, ending
// `endMs` after its start.
inline nlohmann::json RecordJson(const std::vector<NodeRow>& plugins, const std::vector<NodeRow>& barriers = {},
                                 int workers = 1, double endMs = 0) {
  nlohmann::json r = {{"schema", 1},
                      {"program", {{"name", "bootcrank"}, {"version", "1.0.0"}}},
                      {"host", {{"name", "h1"}, {"kernel", "6.1.0"}}},
                      {"mode", "init"},
                      {"settings", {{"parallel", workers > 1}, {"workers", workers}}},
                      {"start", kBase},
                      {"uptime_seconds", 12},
                      {"exit_status", 0},
                      {"signal", nullptr},
                      {"plugins", nlohmann::json::array()},
                      {"barriers", nlohmann::json::array()}};
  double last = 0;
  for (const NodeRow& s : plugins) {
    r["plugins"].push_back(NodeJson(s, false));
    if (s.ended != kNotRun) last = std::max(last, s.ended);
  }
  for (const NodeRow& s : barriers) {
    r["barriers"].push_back(NodeJson(s, true));
    if (s.ended != kNotRun) last = std::max(last, s.ended);
  }
  r["end"] = Ms(endMs > 0 ? endMs : last + 1);
  return r;
}

inline BootRecord Parse(const nlohmann::json& record) { return ParseRecordJson(record.dump(), "fixture.json"); }

// A scratch directory, removed with everything in it.
struct ScratchDir {
  ScratchDir() {
    char pattern[] = "/tmp/bootcrank-analyze-test.XXXXXX";
    path = mkdtemp(pattern);
  }
  ~ScratchDir() { boost::filesystem::remove_all(path); }
  // Writes `content` to `relative` (parents created); returns the full path.
  std::string Write(const std::string& relative, const std::string& content) const {
    std::string full = path + "/" + relative;
    boost::filesystem::create_directories(boost::filesystem::path(full).parent_path());
    std::ofstream(full, std::ios::binary) << content;
    return full;
  }
  std::string path;
};

}  // namespace testing
}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_ANALYZE_FIXTURES_H_
