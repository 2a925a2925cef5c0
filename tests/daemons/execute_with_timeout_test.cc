// ExecuteWithTimeout against real scripts in a scratch host root.

#include "daemons/execute_with_timeout.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "daemons/script_root.h"
#include "plugins/exception.h"
#include "runcontrol/settings.h"

namespace bootcrank {
namespace {

using testing::AwaitPidFile;
using testing::KillAndReap;
using testing::OpenDescriptors;
using testing::ProcLink;
using testing::ScriptRoot;

TEST(WatchPollCountTest, FivePollsPerSecondOfTimeoutInWaitMode) {
  EXPECT_EQ(200u, WatchPollCount(true, 40));
  EXPECT_EQ(5u, WatchPollCount(true, 1));
  EXPECT_EQ(0u, WatchPollCount(true, 0));
}

TEST(WatchPollCountTest, FiftyPollsOutsideWaitModeWhateverTheTimeout) {
  EXPECT_EQ(50u, WatchPollCount(false, 40));
  EXPECT_EQ(50u, WatchPollCount(false, 0));
  EXPECT_EQ(50u, WatchPollCount(false, 1000));
}

TEST(WatchPollCountTest, LargeTimeoutsWrapInThirtyTwoBits) {
  // 4294968 * 1000 = 2^32 + 704, so the count is (704 + 199) / 200.
  EXPECT_EQ(4u, WatchPollCount(true, 4294968));
  EXPECT_EQ(21474832u, WatchPollCount(true, 4294967295u));
}

TEST(SplitCommandWordsTest, RunsOfWhiteSpaceSeparateWords) {
  std::vector<std::string> expected = {"/etc/init.d/ntpd", "start"};
  EXPECT_EQ(expected, SplitCommandWords("/etc/init.d/ntpd start"));
  EXPECT_EQ(expected, SplitCommandWords("  /etc/init.d/ntpd \t\n  start  "));
}

TEST(SplitCommandWordsTest, QuotesAndEscapesAreOrdinaryCharacters) {
  std::vector<std::string> expected = {"run", "'a", "b'", "\"c\\", "d\"", "$HOME"};
  EXPECT_EQ(expected, SplitCommandWords("run 'a b' \"c\\ d\" $HOME"));
  EXPECT_TRUE(SplitCommandWords(" \t ").empty());
}

class ExecuteWithTimeoutTest : public ::testing::Test {
 protected:
  void SetUp() override { Configure(false, 40); }
  void TearDown() override {
    for (pid_t pid : leftovers_) KillAndReap(pid);
    Configure(false, 40);
    Settings::Instance().environment = nullptr;
  }

  static void Configure(bool wait, uint32_t timeout) {
    Settings::Instance().daemonWait = wait;
    Settings::Instance().daemonWaitTimeout = timeout;
  }

  // The text of the exception that ExecuteWithTimeout throws; "" for none.
  static std::string Failure(const std::string& commandLine) {
    try {
      ExecuteWithTimeout(commandLine);
    } catch (const Exception& e) {
      return e.what();
    }
    return "";
  }

  // A running process started by a test, killed and reaped afterwards.
  pid_t Leftover(const std::string& pidFile) {
    pid_t pid = AwaitPidFile(root_, pidFile);
    if (pid > 0) leftovers_.push_back(pid);
    return pid;
  }

  ScriptRoot root_;
  std::vector<pid_t> leftovers_;
};

TEST_F(ExecuteWithTimeoutTest, NonZeroExitIsAnErrorInBothModes) {
  std::string script = root_.Script("/etc/init.d/three", "sleep 1\nexit 3");
  // The message shows the command line exactly as given, blanks included.
  std::string command = script + "   start";
  EXPECT_EQ("Execution of command: " + command + " failed with status: 3", Failure(command));
  Configure(true, 40);
  EXPECT_EQ("Execution of command: " + command + " failed with status: 3", Failure(command));
}

TEST_F(ExecuteWithTimeoutTest, DeathBySignalIsAnError) {
  std::string script = root_.Script("/etc/init.d/killed", "kill -9 $$");
  EXPECT_EQ("Execution of command: " + script + " stop failed with signal: 9",
            Failure(script + " stop"));
  Configure(true, 5);
  EXPECT_EQ("Execution of command: " + script + " stop failed with signal: 9",
            Failure(script + " stop"));
}

TEST_F(ExecuteWithTimeoutTest, ProgramsThatCannotBeExecutedAreReportedByTheStart) {
  std::string missing = root_.Path("/etc/init.d/absent") + " start";
  EXPECT_EQ("failed to ForkExec '" + missing + "' : No such file or directory",
            Failure(missing));
  root_.Write("/etc/init.d/plain", "#!/bin/sh\nexit 0\n", 0644);
  std::string plain = root_.Path("/etc/init.d/plain") + " start";
  EXPECT_EQ("failed to ForkExec '" + plain + "' : Permission denied", Failure(plain));
  EXPECT_EQ("failed to ForkExec '' : No such file or directory", Failure(""));
}

TEST_F(ExecuteWithTimeoutTest, ScriptsGetTheWordsOfTheCommandLineAsArguments) {
  std::string out = root_.Path("/args");
  std::string script = root_.Script("/etc/init.d/args", "printf '%s\\n' \"$@\" > " + out);
  EXPECT_EQ("", Failure(script + "  start \t'two words'   $HOME"));
  EXPECT_EQ("start\n'two\nwords'\n$HOME\n", root_.Read("/args"));
}

TEST_F(ExecuteWithTimeoutTest, ScriptsGetTheConfiguredEnvironmentOnly) {
  std::string script = root_.Script("/etc/init.d/env", "env > \"$1\"");
  char mark[] = "DAEMON_TEST_MARK=present";
  char* environment[] = {mark, nullptr};
  Settings::Instance().environment = environment;
  EXPECT_EQ("", Failure(script + " " + root_.Path("/with")));
  std::string with = root_.Read("/with");
  EXPECT_NE(std::string::npos, with.find("DAEMON_TEST_MARK=present\n")) << with;
  EXPECT_EQ(std::string::npos, with.find("BOOTCRANK_ROOT=")) << with;

  Settings::Instance().environment = nullptr;
  EXPECT_EQ("", Failure(script + " " + root_.Path("/without")));
  std::string without = root_.Read("/without");
  EXPECT_EQ(std::string::npos, without.find("DAEMON_TEST_MARK")) << without;
  EXPECT_EQ(std::string::npos, without.find("BOOTCRANK_ROOT=")) << without;
}

TEST_F(ExecuteWithTimeoutTest, TimeOutInWaitModeLeavesTheProcessRunning) {
  std::string script = root_.Script("/etc/init.d/slow", "echo $$ > \"$1\"\nexec sleep 60");
  std::string command = script + " " + root_.Path("/slow.pid");
  Configure(true, 1);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ("Execution of command: '" + command + "' timed out.", Failure(command));
  auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, std::chrono::milliseconds(1000));  // five polls of 200 ms

  pid_t pid = Leftover("/slow.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(0, kill(pid, 0));
  int status;
  EXPECT_EQ(0, waitpid(pid, &status, WNOHANG)) << "the process must still be running";
}

TEST_F(ExecuteWithTimeoutTest, ZeroTimeOutLooksOnceWithoutWaiting) {
  std::string script = root_.Script("/etc/init.d/slow", "echo $$ > \"$1\"\nexec sleep 60");
  std::string command = script + " " + root_.Path("/slow.pid");
  Configure(true, 0);
  EXPECT_EQ("Execution of command: '" + command + "' timed out.", Failure(command));
  pid_t pid = Leftover("/slow.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(0, kill(pid, 0));
}

TEST_F(ExecuteWithTimeoutTest, OutsideWaitModeTheWatchEndsAfterTenSecondsWithoutError) {
  std::string script = root_.Script("/etc/init.d/slow", "echo $$ > \"$1\"\nexec sleep 60");
  Configure(false, 1);  // the time-out applies to wait mode only
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ("", Failure(script + " " + root_.Path("/slow.pid")));
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(10000));
  pid_t pid = Leftover("/slow.pid");
  ASSERT_GT(pid, 0);
  int status;
  EXPECT_EQ(0, waitpid(pid, &status, WNOHANG)) << "the process must still be running";
}

TEST_F(ExecuteWithTimeoutTest, ChildSeesOnlyNullLogAndRootDirectory) {
  // A descriptor this process leaves inheritable must not reach the child.
  int inheritable = open("/dev/zero", O_RDONLY);
  ASSERT_GE(inheritable, 0);
  std::string script = root_.Script("/etc/init.d/slow", "echo $$ > \"$1\"\nexec sleep 60");
  Configure(true, 0);
  Failure(script + " " + root_.Path("/slow.pid"));
  close(inheritable);
  pid_t pid = Leftover("/slow.pid");
  ASSERT_GT(pid, 0);
  // The pid file is written before the exec; the descriptors that matter are
  // the ones sleep runs with.
  for (int i = 0; i < 1000 && ProcLink(pid, "exe").find("sleep") == std::string::npos; ++i) {
    usleep(10000);
  }
  std::string pidText = std::to_string(pid);
  EXPECT_EQ((std::set<int>{0, 1, 2}), OpenDescriptors(pidText));
  EXPECT_EQ("/dev/null", ProcLink(pid, "fd/0"));
  EXPECT_EQ("/dev/null", ProcLink(pid, "fd/1"));
  EXPECT_EQ(root_.Path("/dev/log"), ProcLink(pid, "fd/2"));
  EXPECT_EQ("/", ProcLink(pid, "cwd"));
}

TEST_F(ExecuteWithTimeoutTest, StandardErrorIsAppendedToTheLogDevice) {
  std::string script = root_.Script("/etc/init.d/talk", "echo \"out $1\"\necho \"err $1\" >&2");
  EXPECT_EQ("", Failure(script + " one"));
  EXPECT_EQ("", Failure(script + " two"));
  EXPECT_EQ("err one\nerr two\n", root_.Read("/dev/log"));
}

TEST_F(ExecuteWithTimeoutTest, WithoutLogDeviceStandardErrorGoesToNull) {
  unlink(root_.Path("/dev/log").c_str());
  std::string script = root_.Script(
      "/etc/init.d/where", "readlink /proc/$$/fd/2 > \"$1\"\necho lost >&2");
  EXPECT_EQ("", Failure(script + " " + root_.Path("/where")));
  EXPECT_EQ("/dev/null\n", root_.Read("/where"));
  EXPECT_FALSE(root_.Exists("/dev/log")) << "the log device must never be created";
}

TEST_F(ExecuteWithTimeoutTest, FinishedCommandsAreReaped) {
  std::string script = root_.Script("/etc/init.d/quick", "echo $$ > \"$1\"");
  EXPECT_EQ("", Failure(script + " " + root_.Path("/quick.pid")));
  pid_t pid = AwaitPidFile(root_, "/quick.pid");
  ASSERT_GT(pid, 0);
  errno = 0;
  EXPECT_EQ(-1, waitpid(pid, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno) << "a finished command must not stay a zombie";
}

TEST_F(ExecuteWithTimeoutTest, NoDescriptorSurvivesAnyOutcome) {
  std::string ok = root_.Script("/etc/init.d/ok", "exit 0");
  std::string bad = root_.Script("/etc/init.d/bad", "exit 1");
  std::string slow = root_.Script("/etc/init.d/slow", "echo $$ > \"$1\"\nexec sleep 60");
  std::set<int> before = OpenDescriptors();

  EXPECT_EQ("", Failure(ok + " start"));
  EXPECT_NE("", Failure(bad + " start"));
  EXPECT_NE("", Failure(root_.Path("/etc/init.d/none") + " start"));
  Configure(true, 0);
  EXPECT_NE("", Failure(slow + " " + root_.Path("/slow.pid")));
  Leftover("/slow.pid");
  unlink(root_.Path("/dev/log").c_str());
  EXPECT_NE("", Failure(bad + " start"));

  EXPECT_EQ(before, OpenDescriptors());
}

TEST_F(ExecuteWithTimeoutTest, ConcurrentCallsEachSeeTheirOwnProcess) {
  std::string three = root_.Script("/etc/init.d/three", "sleep 1\nexit 3");
  std::string zero = root_.Script("/etc/init.d/zero", "exit 0");
  std::string nine = root_.Script("/etc/init.d/nine", "sleep 0.5\nkill -9 $$");
  std::string results[3];
  std::thread a([&] { results[0] = Failure(three + " start"); });
  std::thread b([&] { results[1] = Failure(zero + " start"); });
  std::thread c([&] { results[2] = Failure(nine + " start"); });
  a.join();
  b.join();
  c.join();
  EXPECT_EQ("Execution of command: " + three + " start failed with status: 3", results[0]);
  EXPECT_EQ("", results[1]);
  EXPECT_EQ("Execution of command: " + nine + " start failed with signal: 9", results[2]);
}

}  // namespace
}  // namespace bootcrank
