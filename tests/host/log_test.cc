#include "host/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "host/host_control.h"
#include "host/host_root.h"
#include "runcontrol/logging.h"
#include "support/log_capture.h"

namespace bootcrank {
namespace {

class ScopedRoot {
 public:
  ScopedRoot() {
    char pattern[] = "/tmp/bclog-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
    mkdir((root_ + "/dev").c_str(), 0755);
  }
  ~ScopedRoot() {
    unsetenv("BOOTCRANK_ROOT");
    std::string cmd = "rm -rf '" + root_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(root_ + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

TEST(LogTest, RecordsHaveTimeIdentityPidTagAndOneNewline) {
  InitLogging("bootcrank");
  testing::LogCapture capture;
  Log_Level(kLogError, "first %d\n", 1);
  Log_Level(kLogWarning, "second");
  Log_Level(kLogInfo, "third\n\n");
  Warning("fourth %s", "w");
  HvkCtl::System::SystemInfoImpl().SetSystemAlert("raised");
  HvkCtl::System::KernelProgressScreenImpl screen;
  screen.ProgressText("progressing");
  screen.StatusText("");
  screen.StatusText("state");
  screen.Step();

  std::string pid = std::to_string(getpid());
  std::string expected_tail =
      "bootcrank[" + pid + "]: error: first 1\n";
  std::string text = capture.Text();
  std::regex record(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z bootcrank\[)" + pid +
                    R"(\]: (error|warning|info|alert|progress|status): .*)");
  std::istringstream lines(text);
  std::string line;
  int records = 0, blank = 0;
  while (std::getline(lines, line)) {
    if (line.empty()) {
      ++blank;
      continue;
    }
    EXPECT_TRUE(std::regex_match(line, record)) << line;
    ++records;
  }
  EXPECT_EQ(records, 7);  // the empty status writes nothing
  EXPECT_EQ(blank, 1);    // "third\n\n" is written as it is
  EXPECT_NE(text.find(expected_tail), std::string::npos);
  EXPECT_TRUE(capture.Has("warning", "second"));
  EXPECT_TRUE(capture.Has("info", "third\n"));
  EXPECT_TRUE(capture.Has("warning", "fourth w"));
  EXPECT_TRUE(capture.Has("alert", "raised"));
  EXPECT_TRUE(capture.Has("progress", "progressing"));
  EXPECT_TRUE(capture.Has("status", "state"));
}

TEST(LogTest, ConcurrentRecordsNeverInterleave) {
  testing::LogCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Log_Level(kLogInfo, "thread %d message %d %s\n", t, i,
                                              std::string(100, 'a' + t).c_str());
    });
  }
  for (auto& th : threads) th.join();
  std::vector<std::string> messages = capture.Messages("info");
  ASSERT_EQ(messages.size(), 800u);
  std::regex whole(R"(thread (\d) message \d+ ([a-d])\2{99})");
  for (const std::string& m : messages) EXPECT_TRUE(std::regex_match(m, whole)) << m;
}

TEST(LogTest, HostPathFollowsTheRootVariable) {
  unsetenv("BOOTCRANK_ROOT");
  EXPECT_EQ(host::HostPath("/var/log/sysboot.log"), "/var/log/sysboot.log");
  setenv("BOOTCRANK_ROOT", "", 1);
  EXPECT_EQ(host::HostPath("/x"), "/x");
  setenv("BOOTCRANK_ROOT", "relative/dir", 1);
  EXPECT_EQ(host::HostPath("/x"), "/x");
  setenv("BOOTCRANK_ROOT", "/sandbox//", 1);
  EXPECT_EQ(host::HostPath("/x"), "/sandbox/x");
  setenv("BOOTCRANK_ROOT", "/", 1);
  EXPECT_EQ(host::HostPath("/x"), "/x");
  unsetenv("BOOTCRANK_ROOT");
}

TEST(KernelLogTest, WritesOneLineToKmsgBelowTheRoot) {
  ScopedRoot root;
  { std::ofstream create(root.root() + "/dev/kmsg"); }
  KernelLog("Bootcrank plugin %s activated.", "net");
  KernelLog("second %d", 2);
  EXPECT_EQ(root.Read("/dev/kmsg"),
            "<6>bootcrank: Bootcrank plugin net activated.\n<6>bootcrank: second 2\n");
}

TEST(KernelLogTest, MissingDeviceFallsBackWithoutCreatingIt) {
  ScopedRoot root;
  // Sysinfo itself throws the host library's exception ...
  HvkCtl::Util::Sysinfo sysinfo(HKI_NODE_system_log);
  sysinfo.AddInput("x");
  EXPECT_THROW(sysinfo.Set(), Ravel::Lib::RavelException);
  // ... which KernelLog turns into syslog lines, returning normally.
  EXPECT_NO_THROW(KernelLog("to syslog %s", "instead"));
  struct stat st;
  EXPECT_NE(stat((root.root() + "/dev/kmsg").c_str(), &st), 0);
}

TEST(HostTest, ProcessorCountIsAtLeastOne) {
  EXPECT_GE(host::ProcessorCount(), 1u);
}

}  // namespace
}  // namespace bootcrank
