// The executor process and its control protocol, over the real socket
// against a real forked executor.
#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "cli/executor_root.h"

namespace bootcrank {
namespace testing {
namespace {

using ExecutorProtocolTest = ExecutorTest;

size_t Count(const std::vector<std::string>& messages, const std::string& prefix) {
  return std::count_if(messages.begin(), messages.end(), [&](const std::string& m) {
    return m.compare(0, prefix.size(), prefix) == 0;
  });
}

TEST_F(ExecutorProtocolTest, RepliesStatusZeroOnSuccessAndOneOnFailure) {
  HvcliExecutor::Instance().Reset();
  EXPECT_EQ(StatusBytes(0), RawRequest("probe ok"));
  EXPECT_EQ(StatusBytes(1), RawRequest("probe fail --first=a --second=b"));
  EXPECT_EQ(StatusBytes(1), RawRequest("probe 'unterminated"));

  EXPECT_NO_THROW(HvcliExecutor::Instance().Execute("probe ok"));
  try {
    HvcliExecutor::Instance().Execute("no such command");
    ADD_FAILURE() << "a failing command must throw";
  } catch (const std::exception& e) {
    EXPECT_STREQ("Executor failed executing hvcli command: no such command", e.what());
  }
  AwaitExecutor(1);
  EXPECT_EQ(1u, ExecutorPids().size());
}

TEST_F(ExecutorProtocolTest, ReadsOnlyTheFirst1023BytesOfARequest) {
  HvcliExecutor::Instance().Reset();
  const std::string prefix = "probe echo --text=";
  std::string text;
  for (int i = 0; text.size() < 2000 - prefix.size(); ++i) text += static_cast<char>('a' + i % 26);
  ASSERT_EQ(2000u, (prefix + text).size());

  HvcliExecutor::Instance().Execute(prefix + text);
  ASSERT_EQ(1u, ProbeLines().size() - 1);  // first line: the module's own path
  EXPECT_EQ(text.substr(0, 1023 - prefix.size()), ProbeLines().back());
}

TEST_F(ExecutorProtocolTest, StopInAnyCaseEndsTheExecutorWithoutReply) {
  size_t started = 0;
  for (const std::string request : {"STOP", "sToP and whatever follows"}) {
    HvcliExecutor::Instance().Reset();
    pid_t pid = AwaitExecutor(++started);
    EXPECT_EQ("", RawRequest(request)) << request;
    EXPECT_TRUE(AwaitExit(pid)) << request;
    EXPECT_EQ(-1, RawConnect()) << request;
  }
  EXPECT_EQ(2u, Count(ExecutorMessages("info"), "Bootcrank executor signalled to stop"));

  // A blank before the word makes it an ordinary (unknown) command.
  HvcliExecutor::Instance().Reset();
  EXPECT_EQ(StatusBytes(1), RawRequest(" stop"));
  EXPECT_TRUE(ProcessAlive(AwaitExecutor(3)));
  EXPECT_EQ(1u, Count(ExecutorMessages("error"),
                      "execution of ' stop' failed : Unknown command or namespace: stop"));
}

TEST_F(ExecutorProtocolTest, EmptyRequestIsAnEmptyCommandLine) {
  HvcliExecutor::Instance().Reset();
  EXPECT_EQ(StatusBytes(0), RawRequest(""));
  EXPECT_NO_THROW(HvcliExecutor::Instance().Execute(""));

  // A client that leaves at once: the request is served, the reply is lost.
  int fd = RawConnect();
  ASSERT_GE(fd, 0);
  close(fd);
  HvcliExecutor::Instance().Execute("probe ok");  // served after the one above
  EXPECT_EQ(1u, Count(ExecutorMessages("warning"), "Sending command status to bootcrank failed"));
  EXPECT_TRUE(ExecutorMessages("error").empty()) << ExecutorLog();
}

TEST_F(ExecutorProtocolTest, ResetWithAServingExecutorDoesNothing) {
  HvcliExecutor::Instance().Reset();
  {
    LogCapture log;
    HvcliExecutor::Instance().Reset();
    EXPECT_EQ("", log.Text());
  }
  EXPECT_TRUE(ProcessAlive(AwaitExecutor(1)));
  EXPECT_EQ(1u, ExecutorPids().size());
}

TEST_F(ExecutorProtocolTest, StopWithoutExecutorIsNotAnError) {
  LogCapture log;
  EXPECT_NO_THROW(HvcliExecutor::Instance().Stop());
  EXPECT_EQ(std::vector<std::string>{"Executor already gone."}, log.Messages("info"));
  EXPECT_TRUE(log.Messages("error").empty());
}

TEST_F(ExecutorProtocolTest, StopThenExecuteStartsANewExecutor) {
  HvcliExecutor::Instance().Reset();
  pid_t first = AwaitExecutor(1);
  {
    LogCapture log;
    HvcliExecutor::Instance().Stop();
    EXPECT_TRUE(log.Has("info", "Executor has been Successfully Stopped"));
  }
  ASSERT_TRUE(AwaitExit(first));

  LogCapture log;
  EXPECT_NO_THROW(HvcliExecutor::Instance().Execute("probe ok"));
  EXPECT_EQ(1u, Count(log.Messages("error"), "Failed connecting to executor "));
  EXPECT_TRUE(log.Has("info", "Setting up Executor - Reset Requested"));
  EXPECT_TRUE(ProcessAlive(AwaitExecutor(2)));
  EXPECT_EQ(2u, ExecutorPids().size());
}

TEST_F(ExecutorProtocolTest, ExecuteGivesUpAfterTenFailedResets) {
  // The socket's directory cannot be created below a regular file.
  ASSERT_EQ(0, Shell("rm -rf '" + root_ + "/var' && touch '" + root_ + "/var'"));
  LogCapture log;
  try {
    HvcliExecutor::Instance().Execute("probe ok");
    ADD_FAILURE() << "Execute must fail without an executor";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string("Could not connect to Executor:") + std::strerror(ENOTDIR), e.what());
  }
  std::vector<std::string> infos = log.Messages("info");
  std::vector<std::string> errors = log.Messages("error");
  EXPECT_EQ(10u, Count(infos, "Setting up Executor - Reset Requested"));
  EXPECT_EQ(10u, Count(errors, "Failed connecting to executor "));
  EXPECT_EQ(10u, Count(errors, "Resetting Executor failed, retrying: Bootcrank executor failed "
                               "to start"));
  // The children could not redirect their output, so their reasons are here.
  EXPECT_EQ(10u, Count(errors, "Unable to start executor: Failed to create executor control "
                               "socket directory " + root_ + "/var/run: "));
}

TEST_F(ExecutorProtocolTest, KilledExecutorIsReplacedOnNextExecute) {
  HvcliExecutor::Instance().Execute("probe ok");
  pid_t killed = AwaitExecutor(1);
  ASSERT_EQ(0, kill(killed, SIGKILL));
  ASSERT_TRUE(AwaitExit(killed));

  // The dead executor's socket file stays behind; the next one replaces it.
  struct stat st;
  ASSERT_EQ(0, lstat(SocketPath().c_str(), &st));
  EXPECT_NO_THROW(HvcliExecutor::Instance().Execute("probe ok"));
  pid_t replacement = AwaitExecutor(2);
  EXPECT_NE(killed, replacement);
  EXPECT_TRUE(ProcessAlive(replacement));
}

TEST_F(ExecutorProtocolTest, SecondExecutorOnTheSameRootBindsOverTheOldSocketFile) {
  HvcliExecutor::Instance().Reset();
  pid_t first = AwaitExecutor(1);
  HvcliExecutor::Instance().Stop();
  ASSERT_TRUE(AwaitExit(first));
  struct stat st;
  ASSERT_EQ(0, lstat(SocketPath().c_str(), &st));
  ASSERT_TRUE(S_ISSOCK(st.st_mode));

  HvcliExecutor::Instance().Reset();
  EXPECT_NO_THROW(HvcliExecutor::Instance().Execute("probe ok"));
  EXPECT_TRUE(ProcessAlive(AwaitExecutor(2)));
  EXPECT_TRUE(ExecutorMessages("error").empty()) << ExecutorLog();
}

TEST_F(ExecutorProtocolTest, SilentClientIsDroppedAndTheNextRequestServed) {
  HvcliExecutor::Instance().Reset();
  int silent = RawConnect();
  ASSERT_GE(silent, 0);
  // Queued behind the silent connection; served once it is dropped.
  EXPECT_NO_THROW(HvcliExecutor::Instance().Execute("probe ok"));
  EXPECT_EQ(1u, Count(ExecutorMessages("warning"),
                      std::string("Failed to read message from socket - ") +
                          std::strerror(EAGAIN)));
  char byte;
  EXPECT_EQ(0, recv(silent, &byte, 1, 0));  // closed without a reply
  close(silent);
}

TEST_F(ExecutorProtocolTest, ConcurrentExecutesStartOneExecutor) {
  std::vector<std::thread> threads;
  std::vector<int> failures(6, 0);
  for (size_t i = 0; i < failures.size(); ++i) {
    threads.emplace_back([&failures, i] {
      try {
        HvcliExecutor::Instance().Execute("probe ok");
      } catch (const std::exception&) {
        failures[i] = 1;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(std::vector<int>(failures.size(), 0), failures);
  AwaitExecutor(1);
  EXPECT_EQ(1u, ExecutorPids().size());
}

TEST_F(ExecutorProtocolTest, ExecutorHoldsNoInheritedDescriptors) {
  int leak[2];
  ASSERT_EQ(0, pipe(leak));  // deliberately inheritable
  HvcliExecutor::Instance().Execute("probe ok");
  close(leak[1]);
  fcntl(leak[0], F_SETFL, O_NONBLOCK);
  char byte;
  EXPECT_EQ(0, read(leak[0], &byte, 1)) << "the executor kept the pipe's writing end";
  close(leak[0]);

  // Beyond the standard streams, everything it holds is close-on-exec.
  std::string fdinfo = "/proc/" + std::to_string(AwaitExecutor(1)) + "/fdinfo/";
  std::vector<std::string> open;
  DIR* dir = opendir(fdinfo.c_str());
  ASSERT_NE(nullptr, dir);
  while (struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || atoi(entry->d_name) <= 2) continue;
    std::string info = ReadWhole(fdinfo + entry->d_name);
    std::smatch flags;
    ASSERT_TRUE(std::regex_search(info, flags, std::regex(R"(flags:\s+([0-7]+))")));
    EXPECT_NE(0, std::stol(flags[1], nullptr, 8) & O_CLOEXEC) << "descriptor " << entry->d_name;
    open.push_back(entry->d_name);
  }
  closedir(dir);
  EXPECT_FALSE(open.empty());  // at least the listening socket
}

TEST_F(ExecutorProtocolTest, ConnectionFromAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  HvcliExecutor::Instance().Reset();
  ASSERT_EQ(0, chmod(root_.c_str(), 0755));
  ASSERT_EQ(0, chmod(SocketPath().c_str(), 0777));
  const uid_t nobody = 65534;

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(2);
    int fd = RawConnect();
    if (fd < 0) _exit(3);
    send(fd, "probe ok", 8, MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    char reply[4];
    ssize_t n = recv(fd, reply, sizeof reply, 0);
    _exit(n <= 0 ? 0 : 4);  // closed (or reset) without a status
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(1u, Count(ExecutorMessages("warning"),
                      "Refusing executor control connection from uid 65534"));
  EXPECT_EQ(StatusBytes(0), RawRequest("probe ok"));  // its own user still served
}

TEST_F(ExecutorProtocolTest, OverlongSocketPathIsRefusedNotTruncated) {
  std::string deep = root_ + "/" + std::string(100, 'r');
  MakeTree(deep);
  setenv("BOOTCRANK_ROOT", deep.c_str(), 1);
  LogCapture log;
  EXPECT_EQ(-1, HvcliExecutor::Instance().Connect(true));
  EXPECT_EQ(1u, Count(log.Messages("error"),
                      std::string("Failed connecting to executor ") + std::strerror(ENAMETOOLONG)));
  try {
    HvcliExecutor::Instance().Reset();
    ADD_FAILURE() << "Reset must fail";
  } catch (const std::exception& e) {
    EXPECT_STREQ("Bootcrank executor failed to start", e.what());
  }
  EXPECT_EQ(1u, Count(log.Messages("error"), "Unable to start executor: Executor control socket "
                                             "path is too long ("));
  setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
