// The installed program over dependency graphs that stress its scheduling:
// random DAGs of debug injections, and dependency cycles of several lengths.
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

TEST(GraphStressE2E, RandomDagsRunEveryInjectionOnceAfterItsRequirements) {
  Sandbox box;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("graph " + std::to_string(seed));
    std::mt19937 random(seed);
    const int size = 3 + static_cast<int>(random() % 8);
    std::vector<std::set<int>> needs(size);
    std::string config;
    box.Remove("/order");
    for (int i = 0; i < size; ++i) {
      std::string required;
      for (int j = 0; j < i; ++j) {
        if (random() % 5 < 2 && needs[i].insert(j).second) {
          required += (required.empty() ? "n" : ",n") + std::to_string(j);
        }
      }
      config += "d" + std::to_string(i) + ":" + (required.empty() ? "none" : required) + ":n" +
                std::to_string(i) + ":echo d" + std::to_string(i) + " >> " + box.Path("/order") + "\n";
    }
    box.WriteFile("/etc/quarro/bootcrank/debug.conf", config);
    RunResult run = box.Run({"--parallel", "--randomize=" + std::to_string(seed)});
    ASSERT_EQ(0, run.status) << run.out << run.err;
    std::map<std::string, int> position;
    std::istringstream ran(box.ReadFile("/order"));
    int at = 0;
    for (std::string line; std::getline(ran, line); ++at) {
      EXPECT_TRUE(position.emplace(line, at).second) << line << " ran twice";
    }
    ASSERT_EQ(static_cast<size_t>(size), position.size()) << box.ReadFile("/order");
    for (int i = 0; i < size; ++i) {
      for (int j : needs[i]) {
        EXPECT_LT(position["d" + std::to_string(j)], position["d" + std::to_string(i)]) << i << " needs " << j;
      }
    }
  }
  EXPECT_EQ("", Leftovers(box));
}

TEST(GraphStressE2E, CyclesOfSeveralLengthsAreEachReportedAndTheRunEnds) {
  Sandbox box;
  const std::vector<int> lengths = {1, 2, 3, 1000};
  int plugins = 0;
  // Plugin c<n>_<i> requires barrier r<n>_<i> and provides the next, the
  // last one r<n>_0 again.
  for (int n : lengths) {
    for (int i = 0; i < n; ++i, ++plugins) {
      std::string prefix = "r" + std::to_string(n) + "_";
      box.WriteFile("/usr/libexec/bootcrank/plugins/c" + std::to_string(n) + "_" + std::to_string(i) + ".json",
                    Descriptor("\"" + prefix + std::to_string(i) + "\"",
                               "\"" + prefix + std::to_string((i + 1) % n) + "\"", ""));
    }
  }
  RunResult run = box.Run({"--parallel"}, 300);
  ASSERT_EQ(0, run.status) << run.err << run.out.substr(0, 4000);
  EXPECT_EQ(4, CountRecords(run.out, "warning", "Bootcrank dependency error: dependency cycle "))
      << run.out.substr(0, 4000);
  EXPECT_EQ(4, CountRecords(run.out, "alert", "Bootcrank dependency error: dependency cycle "));
  EXPECT_EQ(std::make_pair(plugins, 0), PluginLines(box.ReadFile("/var/log/sysboot.log")));
  EXPECT_EQ("", Leftovers(box));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
