// RunCapturingOutput with real children that behave and that misbehave:
// every outcome is reported, and no child is left running. A crash and a
// hang with the pipe open are seen end to end (NativeTablesEndToEnd.*).
#include "host/captured_run.h"

#include <signal.h>

#include <cerrno>
#include <fstream>

#include <gtest/gtest.h>

#include "support/temp_root.h"

namespace bootcrank::host {
namespace {

using End = CapturedRun::End;

TEST(CapturedRunTest, EveryWayAChildEndsIsReportedAndNoneIsLeftRunning) {
  testing::TempRoot root;
  auto sh = [](std::string command) { return std::vector<std::string>{"/bin/sh", "-c", command}; };
  const std::string pid = "echo $$ > " + root.Path("pid") + "; ", nul("a\0b", 3);
  std::string yes;
  for (int i = 0; i < 500; ++i) yes += "y\n";
  struct Case {
    std::vector<std::string> argv;
    int limitMs;
    size_t outputLimit;
    End end;
    int code;  // -1: not looked at
    std::string output;
  } cases[] = {
      {sh("printf 'a\\000b'; exit 7"), 20000, 1000, End::kExited, 7, nul},
      {{"/usr/bin/env"}, 20000, 1000, End::kExited, 0, ""},  // the environment is empty
      {sh("head -c 300000 /dev/zero"), 20000, 1 << 20, End::kExited, 0, std::string(300000, 0)},
      {{"/nonexistent/program"}, 1000, 100, End::kNotStarted, ENOENT, ""},
      // Killed at the deadline with the pipe closed, and at the output limit.
      {sh(pid + "exec sleep 60 >&-"), 300, 1000, End::kTimedOut, -1, ""},
      {sh(pid + "exec yes"), 20000, 1000, End::kTooLong, -1, yes},
      // A process that the child started holds the pipe open after the child
      // exited: the answer counts without waiting for it, and it is left alone.
      {sh("printf answer; sleep 60 & echo $! > " + root.Path("pid")), 10000, 1000, End::kExited, 0,
       "answer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv.back());
    boost::filesystem::remove(root.Path("pid"));
    CapturedRun run =
        RunCapturingOutput(c.argv, std::chrono::milliseconds(c.limitMs), c.outputLimit);
    EXPECT_EQ(c.end, run.end);
    if (c.code >= 0) {
      EXPECT_EQ(c.code, run.code);
    }
    EXPECT_EQ(c.output.size(), run.output.size());
    EXPECT_TRUE(c.output == run.output);
    pid_t left = 0;  // the killed child is reaped; the process it started still runs
    if (std::ifstream(root.Path("pid")) >> left) {
      bool started = c.end == End::kExited;
      EXPECT_EQ(started, kill(left, started ? SIGKILL : 0) == 0);
    }
  }
}

}  // namespace
}  // namespace bootcrank::host
