// The executor process over its real socket, with its dispatcher, the core and
// probe extensions. Teardown checks, by pid, that no executor outlives the test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "cli/client/hvcli_executor.h"
#include "host/process.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace testing {
namespace {

// Gone once no thread of it runs: the main thread turns zombie first, and the
// descriptors shared with the others (the listening socket) close with the last.
bool ProcessAlive(pid_t pid) {
  char state;
  pid_t parent;
  if (pid <= 1 || !host::ReadProcessStatus(pid, &state, &parent)) return false;
  boost::system::error_code gone;
  boost::filesystem::directory_iterator task("/proc/" + std::to_string(pid) + "/task", gone), end;
  return state != 'Z' || (!gone && std::distance(task, end) > 1);
}

bool AwaitExit(pid_t pid) {
  for (int i = 0; i < 1000 && ProcessAlive(pid); ++i) usleep(10000);
  return !ProcessAlive(pid);
}

std::string ExecuteError(const std::string& line) {  // "" on success
  return Thrown([&] { HvcliExecutor::Instance().Execute(line); });
}

std::string Status(int32_t status) {
  return std::string(reinterpret_cast<const char*>(&status), 4);
}

class ExecutorTest : public ::testing::Test {
 protected:
  // The extension directories in registration order.
  inline static const std::vector<std::string> kDirs{
      "/usr/lib/quarro/hvcli", "/usr/lib/quarro/hvcli/int", "/usr/lib/quarro/hvcli/int/ext",
      "/usr/lib/quarro/hvcli/ext"};

  void SetUp() override {
    setenv("HVCLI_PROBE_LOG", root_.Path("/probe.log").c_str(), 1);
    const std::string built = BOOTCRANK_BINARY_DIR "/cli/extension/hvcli_";
    ASSERT_EQ(
        0, Shell("cd " + root_.root + " && mkdir -p var/log usr/lib/quarro/bootcrank ." + kDirs[2] +
                 " ." + kDirs[3] +
                 " && cp " BOOTCRANK_BINARY_DIR "/hvcliExecutor usr/lib/quarro/bootcrank && cp " +
                 built + "core.so " + built + "probe.so ." + kDirs[0]));
  }

  void TearDown() override {
    EXPECT_NO_THROW(HvcliExecutor::Instance().Stop());
    for (pid_t pid : ExecutorPids()) {
      if (!AwaitExit(pid) && kill(pid, SIGKILL) == 0)
        ADD_FAILURE() << "executor " << pid << " outlived its stop";
    }
  }

  void Install(const std::string& module, const std::string& dir) {
    ASSERT_EQ(0,
              Shell("cp " BOOTCRANK_BINARY_DIR "/cli/extension/" + module + " " + root_.Path(dir)));
  }
  std::string ExecutorLog() const { return root_.Read("/var/log/bootcrank-hvcli-stdout.log"); }

  // Every executor started in this root, oldest first, from its start record.
  std::vector<pid_t> ExecutorPids() const {
    std::vector<pid_t> pids;
    std::string log = ExecutorLog();
    const char* start = "]: info: Executor Reset - polling for commands\n";
    for (size_t at = 0; (at = log.find(start, at)) != std::string::npos; ++at)
      pids.push_back(atoi(&log[log.rfind('[', at) + 1]));
    return pids;
  }
  pid_t AwaitExecutor(size_t n) const {  // the n-th executor (1-based)
    for (int i = 0; i < 1000 && ExecutorPids().size() < n; ++i) usleep(10000);
    std::vector<pid_t> pids = ExecutorPids();
    return pids.size() >= n ? pids[n - 1] : -1;
  }

  // Sends `request` in one message and returns the whole reply.
  std::string RawRequest(const std::string& request) const {
    int fd = HvcliExecutor::Instance().Connect(false);
    if (fd < 0) return "<no connection>";
    if (!request.empty()) send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[64];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, n);
    close(fd);
    return reply;
  }

  TempRoot root_;
};

TEST_F(ExecutorTest, ServesEachRequestUntilAStopRequestInAnyCase) {
  HvcliExecutor::Instance().Reset();
  EXPECT_EQ(Status(0), RawRequest("probe ok"));
  EXPECT_EQ(Status(1), RawRequest("probe fail --first=a --second=b"));
  EXPECT_EQ(Status(0), RawRequest(""));       // an empty command line
  EXPECT_EQ(Status(1), RawRequest(" stop"));  // not a stop request: an unknown command
  EXPECT_EQ("Executor failed executing hvcli command: no such command",
            ExecuteError("no such command"));
  // The client refuses a longer command line; the executor reads and runs
  // only the first 1023 bytes of what another client sends.
  std::string request = "probe fail --second=x --first=";
  request.resize(2000, 'a');
  EXPECT_EQ("CLI command of 2000 bytes is longer than the 1023 bytes the executor takes; not sent",
            ExecuteError(request));
  EXPECT_EQ(Status(1), RawRequest(request));
  EXPECT_EQ(2, CountRecords(ExecutorLog(), "error",
                            "execution of '" + request.substr(0, 1023) + "' failed : "));
  EXPECT_EQ(1, CountRecords(ExecutorLog(), "error",
                            "execution of ' stop' failed : Unknown command or namespace: stop"));

  // A client that sends nothing is dropped; the request queued behind it is served.
  int silent = HvcliExecutor::Instance().Connect(false);
  ASSERT_GE(silent, 0);
  EXPECT_EQ("", ExecuteError("probe ok"));
  EXPECT_EQ(1,
            CountRecords(ExecutorLog(), "warning",
                         std::string("Failed to read message from socket - ") + strerror(EAGAIN)));
  char byte;
  EXPECT_EQ(0, recv(silent, &byte, 1, 0));  // closed without a reply
  close(silent);
  {
    LogCapture log;
    HvcliExecutor::Instance().Reset();  // one is serving: nothing to do
    EXPECT_EQ("", log.Text());
  }
  pid_t first = AwaitExecutor(1);
  EXPECT_EQ("", RawRequest("STOP"));
  EXPECT_TRUE(AwaitExit(first));
  HvcliExecutor::Instance().Reset();
  pid_t second = AwaitExecutor(2);
  EXPECT_EQ("", RawRequest("sToP and whatever follows"));
  EXPECT_TRUE(AwaitExit(second));
  EXPECT_EQ(2u, ExecutorPids().size());
}

// The stale socket a stopped executor leaves costs the next command one
// reset; a file or a link there is checked end to end (HostileHost). A Reset
// right after Stop finds the stopping executor refusing and starts the next
// one, so the following command connects at the first attempt.
TEST_F(ExecutorTest, JunkAtTheSocketPathCostsOneReset) {
  {
    LogCapture log;
    EXPECT_NO_THROW(HvcliExecutor::Instance().Stop());
    EXPECT_EQ(std::vector<std::string>{"Executor already gone."}, log.Messages("info"));
  }
  HvcliExecutor::Instance().Reset();
  pid_t stopped = AwaitExecutor(1);
  HvcliExecutor::Instance().Stop();
  ASSERT_TRUE(AwaitExit(stopped));
  ASSERT_EQ(0, access(root_.Path("/var/run/quarro/bootcrankExecutor.sock").c_str(), F_OK));
  {
    LogCapture log;
    EXPECT_EQ("", ExecuteError("probe ok"));
    EXPECT_EQ(1, CountRecords(log.Text(), "info", "Setting up Executor - Reset Requested"))
        << log.Text();
  }
  EXPECT_TRUE(ProcessAlive(AwaitExecutor(2)));
  HvcliExecutor::Instance().Stop();
  HvcliExecutor::Instance().Reset();
  {
    LogCapture log;
    EXPECT_EQ("", ExecuteError("probe ok"));
    EXPECT_EQ(0, CountRecords(log.Text(), "error", "Failed connecting to executor ")) << log.Text();
  }
  EXPECT_TRUE(ProcessAlive(AwaitExecutor(3)));
  EXPECT_TRUE(Messages(ExecutorLog(), "error").empty()) << ExecutorLog();
}

TEST_F(ExecutorTest, ExecuteGivesUpAfterTenFailedResets) {
  // The socket's directory cannot be created below a regular file.
  ASSERT_EQ(0, Shell("rm -rf '" + root_.Path("/var") + "' && touch '" + root_.Path("/var") + "'"));
  LogCapture log;
  EXPECT_EQ(std::string("Could not connect to Executor:") + std::strerror(ENOTDIR),
            ExecuteError("probe ok"));
  EXPECT_EQ(10, CountRecords(log.Text(), "info", "Setting up Executor - Reset Requested"));
  EXPECT_EQ(10, CountRecords(log.Text(), "error", "Failed connecting to executor "));
  EXPECT_EQ(
      10, CountRecords(log.Text(), "error",
                       "Resetting Executor failed, retrying: Bootcrank executor failed to start"));
}

// The directories are registered once, in order, by the first command executed
// (one that cannot be added is logged and skipped); the core extension's
// commands run in the same dispatcher.
TEST_F(ExecutorTest, RunsEveryCommandInOneDispatcherAndLogsEachErrorOnce) {
  Install("hvcli_probe.so", kDirs[1]);
  Install("hvcli_probe.so", kDirs[3]);
  ASSERT_EQ(0, Shell("rm -rf '" + root_.Path(kDirs[2]) + "'"));
  HvcliExecutor::Instance().Reset();
  EXPECT_NE("", ExecuteError("probe ok --a=1 stray --=2"));
  EXPECT_EQ("", root_.Read("/probe.log"));

  const std::string forward = "/proc/sys/net/ipv4/ip_forward";
  ASSERT_EQ(0, Shell("mkdir -p " + root_.Path("/proc/sys/net/ipv4") + " && echo 0 > " +
                     root_.Path(forward)));
  const std::vector<std::tuple<std::string, std::string, std::string>> successes{
      // the file's content after
      {"file write --path=/var/m --content='a b\\n'", "/var/m", "a b\\n"},
      {"file write --path=/var/m --content=short", "/var/m", "short"},
      {"sysctl set --key=net.ipv4.ip_forward --value=1", forward, "1"},
      {"sysctl set --key=net/ipv4/ip_forward --value=2", forward, "2"}};
  for (const auto& [line, file, content] : successes) {
    EXPECT_EQ("", ExecuteError(line)) << line;
    EXPECT_EQ(content, root_.Read(file)) << line;
  }

  const std::string fail = "probe fail --first=A --second 'B b'";
  std::vector<std::string> expected{
      "Executor was unable to parse command: Unexpected argument 'stray' after the options",
      "Executor was unable to parse command: Option without a name: '--=2'",
      "unable to add external directory to the hvcli dispatcher: cannot open CLI extension "
      "directory " +
          root_.Path(kDirs[2]) + ": No such file or directory",
      "execution of '" + fail + "' failed : A", "execution of '" + fail + "' failed : B b"};
  EXPECT_NE("", ExecuteError(fail));
  ASSERT_EQ(0, mkfifo(root_.Path("/fifo").c_str(), 0644));  // nobody reads it: must not block
  for (const auto& [line, error] : std::vector<std::pair<std::string, std::string>>{
           {"file write --path=/no/f --content=x",
            "cannot open " + root_.Path("/no/f") + ": " + strerror(ENOENT)},
           {"file write --path=rel/f --content=x", "path is not absolute: rel/f"},
           {"file write --path=/f", "Missing parameter --content for command 'file write'"},
           {"file append --path=/f --content=x --mode=1",
            "Unknown parameter --mode for command 'file append'"},
           {"sysctl set --key=net..ipv4 --value=1", "invalid sysctl key 'net..ipv4'"},
           {"file write --path=/fifo --content=x",
            "cannot open " + root_.Path("/fifo") + ": " + strerror(ENXIO)}}) {
    EXPECT_NE("", ExecuteError(line)) << line;
    expected.push_back("execution of '" + line + "' failed : " + error);
  }
  EXPECT_EQ(expected, Messages(ExecutorLog(), "error"));
  EXPECT_EQ(root_.Path(kDirs[0]) + "/hvcli_probe.so\n" + root_.Path(kDirs[1]) +
                "/hvcli_probe.so\n" + root_.Path(kDirs[3]) + "/hvcli_probe.so\n",
            root_.Read("/probe.log"));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
