// RunCapturingOutput with real children that behave and that misbehave:
// every outcome is reported, and no child is left running. A crash and a
// hang with the pipe open are seen end to end
// (NativeTablesEndToEnd.HostileObjectsAreLoadFailuresOfTheirOwnFileAndTheBootGoesOn).
#include "host/captured_run.h"

#include <signal.h>

#include <cerrno>
#include <fstream>

#include <gtest/gtest.h>

#include "support/temp_root.h"

namespace bootcrank::host {
namespace {

using End = CapturedRun::End;
using std::chrono::milliseconds;

TEST(CapturedRunTest, EveryWayAChildEndsIsReportedAndNoneIsLeftRunning) {
  testing::TempRoot root;
  const std::string pid = "echo $$ > " + root.Path("pid") + "; ";
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
      {{"/bin/sh", "-c", "printf 'a\\000b'; exit 7"},
       20000,
       1000,
       End::kExited,
       7,
       std::string("a\0b", 3)},
      {{"/usr/bin/env"}, 20000, 1000, End::kExited, 0, ""},  // the environment is empty
      {{"/bin/sh", "-c", "head -c 300000 /dev/zero"},
       20000,
       1 << 20,
       End::kExited,
       0,
       std::string(300000, '\0')},
      {{"/nonexistent/program"}, 1000, 100, End::kNotStarted, ENOENT, ""},
      // Killed at the deadline with the pipe closed, and at the output limit.
      {{"/bin/sh", "-c", pid + "exec sleep 60 >&-"}, 300, 1000, End::kTimedOut, -1, ""},
      {{"/bin/sh", "-c", pid + "exec yes"}, 20000, 1000, End::kTooLong, -1, yes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv.back());
    boost::filesystem::remove(root.Path("pid"));
    CapturedRun run = RunCapturingOutput(c.argv, milliseconds(c.limitMs), c.outputLimit);
    EXPECT_EQ(c.end, run.end);
    if (c.code >= 0) {
      EXPECT_EQ(c.code, run.code);
    }
    EXPECT_EQ(c.output.size(), run.output.size());
    EXPECT_TRUE(c.output == run.output);
    pid_t child = 0;
    if (c.argv.back().rfind(pid, 0) == 0) {  // killed and reaped
      ASSERT_TRUE(std::ifstream(root.Path("pid")) >> child);
      EXPECT_TRUE(kill(child, 0) != 0 && errno == ESRCH);
    }
  }
}

// A process that the child started keeps the pipe open after the child
// exited: the child's answer counts without waiting for that process.
TEST(CapturedRunTest, AnOutputHeldOpenByAGrandchildDoesNotHoldTheCall) {
  testing::TempRoot root;
  CapturedRun run = RunCapturingOutput(
      {"/bin/sh", "-c", "printf answer; sleep 60 & echo $! > " + root.Path("pid")},
      milliseconds(10000), 1000);
  EXPECT_EQ(End::kExited, run.end);
  EXPECT_EQ("answer", run.output);
  pid_t grandchild = 0;
  std::ifstream(root.Path("pid")) >> grandchild;
  ASSERT_GT(grandchild, 0);
  EXPECT_EQ(0, kill(grandchild, SIGKILL));  // it was still there
}

}  // namespace
}  // namespace bootcrank::host
