#include "daemons/execute_with_timeout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/settings.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace {

TEST(ExecuteWithTimeoutTest, PollCountAndWordSplitting) {
  EXPECT_EQ(200u, WatchPollCount(true, 40));     // five per second in wait mode
  EXPECT_EQ(4u, WatchPollCount(true, 4294968));  // 4294968000 wraps to 704 in 32 bits
  EXPECT_EQ(50u, WatchPollCount(false, 40));     // fifty otherwise, whatever the time-out
  EXPECT_EQ((std::vector<std::string>{"run", "'a", "b'", "\"c\\", "d\"", "$HOME"}),
            SplitCommandWords("  run 'a b' \t\n\"c\\ d\" $HOME  "));
}

class ExecuteWithTimeoutScriptTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (sleeper_ > 1 && kill(sleeper_, SIGKILL) == 0) waitpid(sleeper_, nullptr, 0);
    Configure(false, 40);
  }
  static void Configure(bool wait, uint32_t timeout) {
    Settings::Instance().daemonWait = wait;
    Settings::Instance().daemonWaitTimeout = timeout;
  }
  static std::string Failure(const std::string& commandLine) {  // "" for none
    return testing::Thrown<Exception>([&] { ExecuteWithTimeout(commandLine); });
  }
  // Runs a script that records its pid and then sleeps, in the given mode;
  // the failure text. The sleeping process is killed by pid in teardown.
  std::string RunSleeper(bool wait, uint32_t timeout) {
    Configure(wait, timeout);
    std::string failure =
        Failure(root_.Script("/slow", "echo $$ > $1\nexec sleep 60") + " " + root_.Path("/pid"));
    for (int i = 0; i < 1000 && root_.Read("/pid").find('\n') == std::string::npos; ++i)
      usleep(10000);
    sleeper_ = atoi(root_.Read("/pid").c_str());
    return failure;
  }

  testing::TempRoot root_;
  pid_t sleeper_ = 0;
};

// Outside wait mode; the same texts in wait mode are checked in daemon-mode
// runs (DaemonModeE2E.StartGoesUpThePrioritiesOneLevelAfterAnotherPastFailures).
TEST_F(ExecuteWithTimeoutScriptTest, ExitStatusSignalAndExecFailuresAreErrors) {
  std::string three =
      root_.Script("/three", "echo $$ > " + root_.Path("/pid") + "\nsleep 1\nexit 3") + "   start";
  std::string nine = root_.Script("/nine", "kill -9 $$") + " stop";
  EXPECT_EQ("Execution of command: " + three + " failed with status: 3",
            Failure(three));  // the line as given
  EXPECT_EQ("Execution of command: " + nine + " failed with signal: 9", Failure(nine));
  pid_t pid = atoi(root_.Read("/pid").c_str());
  ASSERT_GT(pid, 1);
  EXPECT_EQ(-1, waitpid(pid, nullptr, WNOHANG)) << "a finished command must not stay a zombie";
  std::string missing = root_.Path("/absent") + " start";
  EXPECT_EQ("failed to ForkExec '" + missing + "' : No such file or directory", Failure(missing));
}

TEST_F(ExecuteWithTimeoutScriptTest, TimedOutScriptRunsOnInACleanState) {
  root_.Write("/dev/log", "");
  int inheritable = open("/dev/zero", O_RDONLY);  // must not reach the script
  EXPECT_EQ(
      "Execution of command: '" + root_.Path("/slow") + " " + root_.Path("/pid") + "' timed out.",
      RunSleeper(true, 1));
  close(inheritable);
  ASSERT_GT(sleeper_, 1);
  EXPECT_EQ(0, waitpid(sleeper_, nullptr, WNOHANG)) << "the script must still be running";

  std::string proc = "/proc/" + std::to_string(sleeper_) + "/";
  auto link = [&](const std::string& entry) {
    boost::system::error_code ignored;
    return boost::filesystem::read_symlink(proc + entry, ignored).string();
  };
  for (int i = 0; i < 1000 && link("exe").find("sleep") == std::string::npos; ++i) usleep(10000);
  std::set<std::string> fds;
  for (const auto& entry : boost::filesystem::directory_iterator(proc + "fd"))
    fds.insert(entry.path().filename().string());
  EXPECT_EQ((std::set<std::string>{"0", "1", "2"}), fds);
  EXPECT_EQ((std::vector<std::string>{"/dev/null", "/dev/null", root_.Path("/dev/log"), "/"}),
            (std::vector<std::string>{link("fd/0"), link("fd/1"), link("fd/2"), link("cwd")}));
}

TEST_F(ExecuteWithTimeoutScriptTest, NoWaitModeLetsAScriptStillRunningAfterItsWatchGo) {
  boost::filesystem::create_directories(root_.Path("/dev"));
  ASSERT_EQ(0, mkfifo(root_.Path("/dev/log").c_str(), 0644));  // nobody reads it: must not block
  EXPECT_EQ("", RunSleeper(false, 1));  // fifty polls whatever the time-out, then no error
  ASSERT_GT(sleeper_, 1);
  EXPECT_EQ(0, waitpid(sleeper_, nullptr, WNOHANG)) << "the script must still be running";
}

TEST_F(ExecuteWithTimeoutScriptTest, ZeroTimeOutLooksOnceInWaitMode) {
  EXPECT_EQ(
      "Execution of command: '" + root_.Path("/slow") + " " + root_.Path("/pid") + "' timed out.",
      RunSleeper(true, 0));
}

}  // namespace
}  // namespace bootcrank
