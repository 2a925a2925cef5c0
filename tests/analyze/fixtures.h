// Hand-made boot records: a node is a table row (name, after, times in ms
// from the boot's start) turned into record JSON, a BootRecord or a file.
#ifndef BOOTCRANK_TESTS_ANALYZE_FIXTURES_H_
#define BOOTCRANK_TESTS_ANALYZE_FIXTURES_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <nlohmann/json.hpp>

#include "analyze/record.h"
#include "analyze/record_reader.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace analyze {
namespace testing {

constexpr Micros kBase = 1765000000000000;  // the boot's start
constexpr double kNotRun = -1;

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

// A schema-1 record ending `endMs` after its start (0: after the last end).
inline nlohmann::json RecordJson(const std::vector<NodeRow>& plugins, const std::vector<NodeRow>& barriers = {},
                                 int workers = 1, double endMs = 0) {
  nlohmann::json r = {{"schema", 1}, {"host", {{"name", "h1"}}}, {"start", kBase}, {"uptime_seconds", 12},
                      {"settings", {{"parallel", workers > 1}, {"workers", workers}}},
                      {"plugins", nlohmann::json::array()}, {"barriers", nlohmann::json::array()}};
  double last = 0;
  for (bool barrier : {false, true}) {
    for (const NodeRow& s : barrier ? barriers : plugins) {
      r[barrier ? "barriers" : "plugins"].push_back(NodeJson(s, barrier));
      last = std::max(last, s.ended);
    }
  }
  r["end"] = Ms(endMs > 0 ? endMs : last + 1);
  return r;
}

inline BootRecord Parse(const nlohmann::json& record) { return ParseRecordJson(record.dump(), "fixture.json"); }

struct ScratchDir {
  ScratchDir() {
    char pattern[] = "/tmp/bootcrank-analyze-test.XXXXXX";
    path = mkdtemp(pattern);
  }
  ~ScratchDir() { boost::filesystem::remove_all(path); }
  std::string Write(const std::string& relative, const std::string& content) const {
    std::string full = path + "/" + relative;
    boost::filesystem::create_directories(boost::filesystem::path(full).parent_path());
    std::ofstream(full, std::ios::binary) << content;
    return full;
  }
  std::string path;
};

using Output = ::bootcrank::testing::RunResult;

inline std::string Slurp(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// bootcrank-analyze with `args` and only `env` for its environment.
inline Output Analyze(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
  args.insert(args.begin(), BOOTCRANK_ANALYZE);
  return ::bootcrank::testing::RunProcess(args, &env, 60);
}

}  // namespace testing
}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_ANALYZE_FIXTURES_H_
