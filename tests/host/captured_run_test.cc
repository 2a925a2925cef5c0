// RunCapturingOutput with real children that behave and that misbehave:
// every outcome is reported, and no child is left running.
#include "host/captured_run.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_root.h"

namespace bootcrank {
namespace host {
namespace {

using End = CapturedRun::End;
using std::chrono::milliseconds;

CapturedRun Shell(const std::string& script, milliseconds limit = milliseconds(20000),
                  size_t outputLimit = 1 << 20) {
  return RunCapturingOutput({"/bin/sh", "-c", script}, limit, outputLimit);
}

// True when no process `pid` exists (not even a zombie).
bool Gone(const std::string& pidFile) {
  pid_t pid = 0;
  std::ifstream(pidFile) >> pid;
  return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

TEST(CapturedRunTest, OutputAndEndOfAChildThatEnds) {
  struct Case {
    std::vector<std::string> argv;
    End end;
    int code;
    std::string output;
  } cases[] = {
      {{"/bin/sh", "-c", "printf 'a\\000b'; exit 7"}, End::kExited, 7, std::string("a\0b", 3)},
      {{"/bin/sh", "-c", "printf partial; kill -9 $$"}, End::kSignalled, 9, "partial"},
      {{"/usr/bin/env"}, End::kExited, 0, ""},  // the environment is empty
  };
  for (const Case& c : cases) {
    CapturedRun run = RunCapturingOutput(c.argv, milliseconds(20000), 1000);
    EXPECT_EQ(c.end, run.end) << c.argv.back();
    EXPECT_EQ(c.code, run.code) << c.argv.back();
    EXPECT_EQ(c.output, run.output) << c.argv.back();
  }
  // More than a pipe holds is read while the child writes.
  CapturedRun big = Shell("head -c 300000 /dev/zero");
  EXPECT_EQ(End::kExited, big.end);
  EXPECT_EQ(std::string(300000, '\0'), big.output);
}

TEST(CapturedRunTest, AChildThatHangsIsKilledAtTheDeadlineAndReaped) {
  testing::TempRoot root;
  // Writes, then waits with the pipe open; then silently with it closed.
  for (const auto& [script, output] : std::vector<std::pair<std::string, std::string>>{
           {"echo $$ > pid; printf early; exec sleep 60", "early"},
           {"echo $$ > pid; exec sleep 60 >&-", ""}}) {
    CapturedRun run = Shell("cd " + root.root + " && " + script, milliseconds(300));
    EXPECT_EQ(End::kTimedOut, run.end) << script;
    EXPECT_EQ(output, run.output) << script;
    EXPECT_TRUE(Gone(root.Path("pid"))) << script;
  }
}

TEST(CapturedRunTest, AChildThatWritesTooMuchIsKilledAtTheLimit) {
  testing::TempRoot root;
  CapturedRun run = Shell("cd " + root.root + " && echo $$ > pid && exec yes", milliseconds(20000), 1000);
  EXPECT_EQ(End::kTooLong, run.end);
  EXPECT_EQ(1000u, run.output.size());
  EXPECT_TRUE(Gone(root.Path("pid")));
}

// A process that the child started keeps the pipe open after the child
// exited: the child's answer counts without waiting for that process.
TEST(CapturedRunTest, AnOutputHeldOpenByAGrandchildDoesNotHoldTheCall) {
  testing::TempRoot root;
  // Waiting for the end of the output would run into the time limit.
  CapturedRun run = Shell("printf answer; sleep 60 & echo $! > " + root.Path("pid"), milliseconds(10000));
  EXPECT_EQ(End::kExited, run.end);
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("answer", run.output);
  pid_t grandchild = 0;
  std::ifstream(root.Path("pid")) >> grandchild;
  ASSERT_GT(grandchild, 0);
  EXPECT_EQ(0, kill(grandchild, SIGKILL));  // it was still there
}

TEST(CapturedRunTest, AProgramThatCannotRunIsNotStarted) {
  CapturedRun run = RunCapturingOutput({"/nonexistent/program"}, milliseconds(1000), 100);
  EXPECT_EQ(End::kNotStarted, run.end);
  EXPECT_EQ(ENOENT, run.code);
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
