// A host root for tests that run the real executor process: a temporary
// directory set as BOOTCRANK_ROOT, with the CLI extension modules installed,
// and a teardown that stops every executor started in it and makes sure,
// by pid, that none outlives the test.
#ifndef BOOTCRANK_TESTS_CLI_EXECUTOR_ROOT_H_
#define BOOTCRANK_TESTS_CLI_EXECUTOR_ROOT_H_

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/hvcli_executor.h"
#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace testing {

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void MakeTree(const std::string& path) {
  ASSERT_EQ(0, Shell("mkdir -p '" + path + "'")) << path;
}

inline std::string ModulePath(const std::string& name) {
  return std::string(BOOTCRANK_BINARY_DIR) + "/cli/extension/" + name;
}

// The extension directories, relative to the root, in registration order.
inline const std::vector<std::string>& ExtensionDirectories() {
  static const std::vector<std::string> directories{
      "/usr/lib/quarro/hvcli", "/usr/lib/quarro/hvcli/int", "/usr/lib/quarro/hvcli/int/ext",
      "/usr/lib/quarro/hvcli/ext"};
  return directories;
}

inline bool ProcessAlive(pid_t pid) {
  if (pid <= 1 || kill(pid, 0) != 0) return false;
  std::string stat = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// Waits (bounded) for `pid` to end; true when it did.
inline bool AwaitExit(pid_t pid) {
  for (int i = 0; i < 1000 && ProcessAlive(pid); ++i) usleep(10000);
  return !ProcessAlive(pid);
}

class ExecutorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bootcrank-cli-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
    setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
    setenv("HVCLI_PROBE_LOG", ProbeLog().c_str(), 1);
    MakeTree(root_ + "/var/log");
    for (const std::string& directory : ExtensionDirectories()) MakeTree(root_ + directory);
    InstallModule("hvcli_core.so", ExtensionDirectories()[0]);
    InstallModule("hvcli_probe.so", ExtensionDirectories()[0]);
  }

  void TearDown() override {
    try {
      HvcliExecutor::Instance().Stop();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "Stop: " << e.what();
    }
    for (pid_t pid : ExecutorPids()) {
      if (pid > 1 && !AwaitExit(pid)) {
        kill(pid, SIGKILL);
        ADD_FAILURE() << "executor " << pid << " outlived its stop";
      }
    }
    Shell("chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'");
    unsetenv("HVCLI_PROBE_LOG");
    unsetenv("BOOTCRANK_ROOT");
  }

  // Copies a built module into `directory` (relative to the root).
  void InstallModule(const std::string& module, const std::string& directory,
                     const std::string& as = "") {
    MakeTree(root_ + directory);
    ASSERT_EQ(0, Shell("cp '" + ModulePath(module) + "' '" + root_ + directory + "/" +
                       (as.empty() ? module : as) + "'"))
        << "build the CLI extension modules first (ninja hvcli_core hvcli_probe)";
  }

  std::string ProbeLog() const { return root_ + "/probe.log"; }
  std::vector<std::string> ProbeLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadWhole(ProbeLog()));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string SocketPath() const { return root_ + "/var/run/quarro/bootcrankExecutor.sock"; }
  std::string ExecutorLog() const {
    return ReadWhole(root_ + "/var/log/bootcrank-hvcli-stdout.log");
  }
  std::vector<std::string> ExecutorMessages(const std::string& tag) const {
    std::vector<std::string> out;
    for (const LogLine& line : ParseLogRecords(ExecutorLog())) {
      if (line.tag == tag) out.push_back(line.message);
    }
    return out;
  }

  // Every executor process started in this root, oldest first: the pids of
  // its "Executor Reset - polling for commands" records.
  std::vector<pid_t> ExecutorPids() const {
    static const std::regex started(
        R"(^\S+ [^\[ ]+\[(\d+)\]: info: Executor Reset - polling for commands$)");
    std::vector<pid_t> pids;
    std::istringstream in(ExecutorLog());
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
      if (std::regex_match(line, match, started)) pids.push_back(std::stoi(match[1]));
    }
    return pids;
  }

  // The pid of the n-th executor started in this root (1-based). An
  // executor writes its start record just after Reset returns, so this
  // waits (bounded) for it; -1 when it never comes.
  pid_t AwaitExecutor(size_t n) const {
    for (int i = 0; i < 1000 && ExecutorPids().size() < n; ++i) usleep(10000);
    std::vector<pid_t> pids = ExecutorPids();
    EXPECT_GE(pids.size(), n) << "executor " << n << " never started";
    return pids.size() >= n ? pids[n - 1] : -1;
  }

  // Connects to the control socket directly; -1 when nothing listens.
  int RawConnect() const {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = SocketPath();
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  // Sends `request` as one message on a fresh connection, closes the writing
  // side and collects the whole reply (empty when the executor sent none).
  std::string RawRequest(const std::string& request) const {
    int fd = RawConnect();
    EXPECT_GE(fd, 0) << "no executor listening";
    if (fd < 0) return "<no connection>";
    if (!request.empty()) {
      EXPECT_EQ(static_cast<ssize_t>(request.size()),
                send(fd, request.data(), request.size(), MSG_NOSIGNAL));
    }
    shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[64];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, n);
    close(fd);
    return reply;
  }

  static std::string StatusBytes(int32_t status) {
    return std::string(reinterpret_cast<const char*>(&status), sizeof status);
  }

  std::string root_;
};

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_CLI_EXECUTOR_ROOT_H_
