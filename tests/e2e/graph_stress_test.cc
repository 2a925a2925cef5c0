// The installed program over dependency graphs that stress its scheduling:
// random DAGs of debug injections run with --parallel --randomize, each
// injection exactly once and after everything it requires, and dependency
// cycles of every length, which are reported and broken so the run ends.
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "tests/e2e/hygiene.h"
#include "tests/e2e/run_records.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BOOTCRANK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BOOTCRANK_SANITIZED 1
#endif
#endif

namespace bootcrank {
namespace testing {
namespace {

#ifdef BOOTCRANK_SANITIZED
constexpr uint32_t kGraphs = 15;
#else
constexpr uint32_t kGraphs = 60;
#endif

// Plugin lines of the profiling log, and those with the never-ran zero time.
std::pair<int, int> PluginLines(const std::string& log) {
  int total = 0, neverRan = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("] sysboot: ") == std::string::npos) continue;
    ++total;
    if (line.compare(0, 28, "[1970-01-01 00:00:00.000000 ") == 0) ++neverRan;
  }
  return {total, neverRan};
}

TEST(GraphStressE2E, RandomDagsRunEveryInjectionOnceAfterItsRequirements) {
  Sandbox box;
  const std::string order = box.Path("/order");
  for (uint32_t seed = 1; seed <= kGraphs; ++seed) {
    SCOPED_TRACE("graph " + std::to_string(seed));
    std::mt19937 random(seed);
    const int size = 3 + static_cast<int>(random() % 8);
    std::vector<std::set<int>> needs(size);
    std::ostringstream config;
    box.Remove("/usr/libexec/bootcrank/plugins");
    box.MakeDirectory("/usr/libexec/bootcrank/plugins");
    box.Remove("/order");
    for (int i = 0; i < size; ++i) {
      std::string required;
      for (int j = 0; j < i; ++j) {
        if (random() % 5 < 2) {
          needs[i].insert(j);
          required += (required.empty() ? "" : ",") + std::string("n") + std::to_string(j);
        }
      }
      if (required.empty()) required = "none";
      std::string name = "d" + std::to_string(i);
      config << name << ":" << required << ":n" << i << ":echo " << name << " >> " << order
             << "\n";
    }
    box.WriteFile("/etc/quarro/bootcrank/debug.conf", config.str());

    RunResult run = box.Run({"--parallel", "--randomize=" + std::to_string(seed)});
    ASSERT_EQ(0, run.status) << run.out << run.err;
    std::map<std::string, int> position;
    std::istringstream ran(box.ReadFile("/order"));
    int at = 0;
    for (std::string line; std::getline(ran, line); ++at) {
      EXPECT_EQ(0u, position.count(line)) << line << " ran twice";
      position[line] = at;
    }
    ASSERT_EQ(static_cast<size_t>(size), position.size()) << box.ReadFile("/order");
    for (int i = 0; i < size; ++i) {
      for (int j : needs[i]) {
        EXPECT_LT(position["d" + std::to_string(j)], position["d" + std::to_string(i)])
            << "d" << i << " ran before d" << j << " which it requires";
      }
    }
    if (HasFailure()) return;
  }
  EXPECT_EQ("", Joined(LeftoverProcesses(box)));
}

TEST(GraphStressE2E, CyclesOfEveryLengthAreReportedAndTheRunEnds) {
  for (int length : {1, 2, 3, 10, 1000}) {
    SCOPED_TRACE("cycle of " + std::to_string(length));
    Sandbox box;
    // Plugin c<i> requires barrier r<i> and provides r<i+1>, the last one
    // providing r0 again.
    for (int i = 0; i < length; ++i) {
      box.WriteFile("/usr/libexec/bootcrank/plugins/c" + std::to_string(i) + ".json",
                    "{\"metadata\": {\"version\": 1, \"requires\": [\"r" + std::to_string(i) +
                        "\"], \"provides\": [\"r" + std::to_string((i + 1) % length) +
                        "\"]}, \"operations\": {\"start\": []}}\n");
    }
    RunResult run = box.Run({"--parallel"}, 300);
    ASSERT_EQ(0, run.status) << run.err << run.out.substr(0, 4000);
    int reports = 0;
    for (const std::string& m : Messages(run.out, "warning")) {
      if (m.compare(0, 45, "Bootcrank dependency error: dependency cycle ") == 0) ++reports;
    }
    EXPECT_EQ(1, reports) << run.out.substr(0, 4000);
    EXPECT_FALSE(Messages(run.out, "alert").empty());
    EXPECT_EQ(std::make_pair(length, 0), PluginLines(box.ReadFile("/var/log/sysboot.log")));
    EXPECT_EQ("", Joined(LeftoverProcesses(box)));
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
