// ExecuteWithTimeout against real scripts in a scratch host root.
#include "daemons/execute_with_timeout.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <set>

#include <gtest/gtest.h>

#include "daemons/script_root.h"
#include "plugins/exception.h"
#include "runcontrol/settings.h"

namespace bootcrank {
namespace {


TEST(ExecuteWithTimeoutTest, PollCountAndWordSplitting) {
  EXPECT_EQ(200u, WatchPollCount(true, 40));  // five per second in wait mode
  EXPECT_EQ(0u, WatchPollCount(true, 0));
  EXPECT_EQ(4u, WatchPollCount(true, 4294968));  // 4294968000 wraps to 704 in 32 bits
  EXPECT_EQ(50u, WatchPollCount(false, 40));     // fifty otherwise, whatever the time-out
  EXPECT_EQ((std::vector<std::string>{"run", "'a", "b'", "\"c\\", "d\"", "$HOME"}),
            SplitCommandWords("  run 'a b' \t\n\"c\\ d\" $HOME  "));
  EXPECT_TRUE(SplitCommandWords(" \t ").empty());
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
  // The text of the exception that ExecuteWithTimeout throws; "" for none.
  static std::string Failure(const std::string& commandLine) {
    try {
      ExecuteWithTimeout(commandLine);
    } catch (const Exception& e) {
      return e.what();
    }
    return "";
  }
  // Runs a script that records its pid and then sleeps, in the given mode;
  // the failure text. The sleeping process is killed by pid in teardown.
  std::string RunSleeper(bool wait, uint32_t timeout) {
    std::string script = root_.Script("/etc/init.d/slow", "echo $$ > $1\nexec sleep 60");
    Configure(wait, timeout);
    std::string failure = Failure(script + " " + root_.Path("/slow.pid"));
    for (int i = 0; i < 1000 && root_.Read("/slow.pid").find('\n') == std::string::npos; ++i) {
      usleep(10000);
    }
    sleeper_ = atoi(root_.Read("/slow.pid").c_str());
    return failure;
  }

  testing::ScriptRoot root_;
  pid_t sleeper_ = 0;
};

TEST_F(ExecuteWithTimeoutScriptTest, ExitStatusSignalAndExecFailuresAreErrors) {
  std::string three =
      root_.Script("/etc/init.d/three", "echo $$ > " + root_.Path("/pid") + "\nsleep 1\nexit 3") +
      "   start";
  std::string nine = root_.Script("/etc/init.d/nine", "kill -9 $$") + " stop";
  for (bool wait : {false, true}) {  // the message shows the line as given
    Configure(wait, 40);
    EXPECT_EQ("Execution of command: " + three + " failed with status: 3", Failure(three));
    EXPECT_EQ("Execution of command: " + nine + " failed with signal: 9", Failure(nine));
  }
  pid_t pid = atoi(root_.Read("/pid").c_str());
  ASSERT_GT(pid, 1);
  EXPECT_EQ(-1, waitpid(pid, nullptr, WNOHANG)) << "a finished command must not stay a zombie";
  std::string missing = root_.Path("/etc/init.d/absent") + " start";
  EXPECT_EQ("failed to ForkExec '" + missing + "' : No such file or directory", Failure(missing));
}

TEST_F(ExecuteWithTimeoutScriptTest, TimeOutInWaitModeLeavesTheScriptRunningInACleanState) {
  int inheritable = open("/dev/zero", O_RDONLY);  // must not reach the script
  std::string command = root_.Path("/etc/init.d/slow") + " " + root_.Path("/slow.pid");
  EXPECT_EQ("Execution of command: '" + command + "' timed out.", RunSleeper(true, 1));
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
  for (const auto& entry : boost::filesystem::directory_iterator(proc + "fd")) {
    fds.insert(entry.path().filename().string());
  }
  EXPECT_EQ((std::set<std::string>{"0", "1", "2"}), fds);
  EXPECT_EQ("/dev/null", link("fd/0"));
  EXPECT_EQ("/dev/null", link("fd/1"));
  EXPECT_EQ(root_.Path("/dev/log"), link("fd/2"));
  EXPECT_EQ("/", link("cwd"));
}

TEST_F(ExecuteWithTimeoutScriptTest, OutsideWaitModeTheWatchEndsWithoutError) {
  EXPECT_EQ("", RunSleeper(false, 1));  // the time-out applies to wait mode only
  ASSERT_GT(sleeper_, 1);
  EXPECT_EQ(0, waitpid(sleeper_, nullptr, WNOHANG)) << "the script must still be running";
}

}  // namespace
}  // namespace bootcrank
