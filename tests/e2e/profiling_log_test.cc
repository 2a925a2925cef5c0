// The boot profiling log that runs of the installed program leave behind,
// compared whole after the run's own times are masked.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

using Names = std::vector<std::string>;

const char kLog[] = "/var/log/sysboot.log";

TEST(ProfilingLogEndToEnd, FullRunListsEveryPluginOfTheRunList) {
  Sandbox box;
  box.WriteFile("/usr/libexec/bootcrank/plugins/alpha.json", MarkingDescriptor("alpha"));
  RunResult run = box.Run({"--randomize=42"});
  ASSERT_EQ(0, run.status) << run.out << run.err;
  EXPECT_EQ(
      "HVKernel Initialization Time: <U>\n"
      "[<T> - <T>] sysboot: alpha\n"
      "=== Bootcrank configuration info ===\n"
      " Start: <T>\n"
      " End: <T>\n"
      " Verbose: 0\n"
      " Parallel: 0\n"
      " Randomize: 1\n"
      " Interactive Mode: 0\n"
      " Random Seed: 42\n",
      NormalisedProfilingLog(box.ReadFile(kLog)));
  EXPECT_TRUE(Messages(run.out, "warning").empty()) << run.out;
}

TEST(ProfilingLogEndToEnd, EmptyRunAndDumpRunRewriteTheLog) {
  Sandbox box;
  box.WriteFile(kLog, "an old log\n");
  RunResult empty = box.Run({"--verbose", "--randomize=7"});
  ASSERT_EQ(0, empty.status) << empty.out << empty.err;
  EXPECT_EQ(
      "HVKernel Initialization Time: <U>\n"
      "=== Bootcrank configuration info ===\n"
      " Start: <T>\n"
      " End: <T>\n"
      " Verbose: 1\n"
      " Parallel: 0\n"
      " Randomize: 1\n"
      " Interactive Mode: 0\n"
      " Random Seed: 7\n",
      NormalisedProfilingLog(box.ReadFile(kLog)));

  // A dump never activates anything: the plugin lines carry the zero time.
  box.WriteFile("/usr/libexec/bootcrank/plugins/alpha.json", MarkingDescriptor("alpha"));
  RunResult dump = box.Run({"--dump-dependency-tree=" + box.Path("/tree.dot"), "--randomize=3"});
  ASSERT_EQ(0, dump.status) << dump.out << dump.err;
  EXPECT_EQ(
      "HVKernel Initialization Time: <U>\n"
      "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: alpha\n"
      "=== Bootcrank configuration info ===\n"
      " Start: <T>\n"
      " End: <T>\n"
      " Verbose: 0\n"
      " Parallel: 0\n"
      " Randomize: 1\n"
      " Interactive Mode: 0\n"
      " Random Seed: 3\n",
      NormalisedProfilingLog(box.ReadFile(kLog)));
  EXPECT_FALSE(box.Exists("/var/run/quarro/alpha.ran"));
}

TEST(ProfilingLogEndToEnd, DaemonRunsAppendSections) {
  Sandbox box;
  box.WriteFile("/bin/chkconfig",
                "#!/bin/sh\necho \"" + box.Path("/etc/init.d/svc") + " 10\"\n", 0755);
  box.WriteFile("/etc/init.d/svc", "#!/bin/sh\nexit 0\n", 0755);

  // Without a full log there is nothing to append to.
  RunResult lone = box.Run({"--daemon", "--method=start"});
  EXPECT_EQ(0, lone.status) << lone.out << lone.err;
  Names warnings = Messages(lone.out, "warning");
  ASSERT_EQ(1u, warnings.size()) << lone.out;
  EXPECT_EQ(0u, warnings[0].find("unable to log daemon profiling information: failed to write "
                                 "to temp file: "))
      << warnings[0];
  EXPECT_FALSE(box.Exists(kLog));

  ASSERT_EQ(0, box.Run({"--randomize=5"}).status);
  std::string full = NormalisedProfilingLog(box.ReadFile(kLog));
  ASSERT_EQ(0, box.Run({"--daemon", "--method=start", "--randomize=6"}).status);
  ASSERT_EQ(0, box.Run({"--daemon", "--method=start", "--randomize=8"}).status);
  std::string section =
      "[<T> - <T>] daemon: svc\n"
      "=== Daemon configuration info ===\n"
      " Start Daemon: <T>\n"
      " End Daemon: <T>\n"
      " Verbose: 0\n"
      " Parallel: 0\n"
      " Randomize: 1\n"
      " Interactive Mode: 0\n";
  EXPECT_EQ(full + section + " Random Seed: 6\n" + section + " Random Seed: 8\n",
            NormalisedProfilingLog(box.ReadFile(kLog)));
}

TEST(ProfilingLogEndToEnd, UnusableLogDirectoryLeavesTheStatusAlone) {
  Sandbox box;
  box.Remove("/var/log");
  box.WriteFile("/var/log", "a file where the directory belongs");
  RunResult run = box.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  Names warnings = Messages(run.out, "warning");
  std::string expected = "unable to log profiling information: unable to create temporary "
                         "file to write '" +
                         box.Path(kLog) + "': Not a directory.";
  EXPECT_NE(warnings.end(), std::find(warnings.begin(), warnings.end(), expected)) << run.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
