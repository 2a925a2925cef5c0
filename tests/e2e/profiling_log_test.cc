// The boot profiling log that runs of the installed program leave behind,
// compared whole after the run's own times are masked (the daemon sections
// are checked by the unit tests of the log writer).
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

const char kLog[] = "/var/log/sysboot.log";

std::string Settings(const char* verbose, const char* seed) {
  return std::string(" Verbose: ") + verbose + "\n Parallel: 0\n Randomize: 1\n"
         " Interactive Mode: 0\n Random Seed: " + seed + "\n";
}

TEST(ProfilingLogEndToEnd, FullEmptyAndDumpRunsRewriteTheLog) {
  Sandbox box;
  const std::string head = "HVKernel Initialization Time: <U>\n";
  const std::string config = "=== Bootcrank configuration info ===\n Start: <T>\n End: <T>\n";
  box.WriteFile(kLog, "an old log\n");
  ASSERT_EQ(0, box.Run({"--verbose", "--randomize=7"}).status);
  EXPECT_EQ(head + config + Settings("1", "7"), NormalisedProfilingLog(box.ReadFile(kLog)));

  box.WriteFile("/usr/libexec/bootcrank/plugins/alpha.json", MarkingDescriptor("alpha"));
  ASSERT_EQ(0, box.Run({"--randomize=42"}).status);
  EXPECT_EQ(head + "[<T> - <T>] sysboot: alpha\n" + config + Settings("0", "42"),
            NormalisedProfilingLog(box.ReadFile(kLog)));

  // A dump never activates anything: the plugin lines carry the zero time.
  box.Remove("/var/run/quarro/alpha.ran");
  ASSERT_EQ(0, box.Run({"--dump-dependency-tree=" + box.Path("/tree.dot"), "--randomize=3"}).status);
  EXPECT_EQ(head + "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: alpha\n" +
                config + Settings("0", "3"),
            NormalisedProfilingLog(box.ReadFile(kLog)));
  EXPECT_FALSE(box.Exists("/var/run/quarro/alpha.ran"));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
