#include "host/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

#include "host/host_control.h"
#include "runcontrol/logging.h"
#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

// Every way of logging yields "<UTC time> bootcrank[<pid>]: <tag>: <text>",
// one newline added only when the text lacks one.
TEST(Log, RecordsHaveTimeIdentityPidTagAndOneNewline) {
  InitLogging("bootcrank");
  testing::LogCapture capture;
  Log_Level(kLogError, "first %d\n", 1);
  Log_Level(kLogInfo, "second\n\n");
  Warning("third %s", "w");
  HvkCtl::System::SystemInfoImpl().SetSystemAlert("raised");
  HvkCtl::System::KernelProgressScreenImpl screen;
  screen.ProgressText("progressing");
  screen.StatusText("");  // writes nothing
  screen.StatusText("state");
  std::regex head(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z bootcrank\[)" + std::to_string(getpid()) + R"(\]: )");
  EXPECT_EQ(std::regex_replace(capture.Text(), head, ""),
            "error: first 1\ninfo: second\n\nwarning: third w\nalert: raised\nprogress: progressing\nstatus: state\n");
}

TEST(Log, ConcurrentRecordsNeverInterleave) {
  testing::LogCapture capture;
  std::vector<std::thread> threads;
  for (char c : {'a', 'b', 'c', 'd'}) {
    threads.emplace_back([c] {
      for (int i = 0; i < 200; ++i) Log_Level(kLogInfo, "%s\n", std::string(100, c).c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::string> messages = capture.Messages("info");
  ASSERT_EQ(messages.size(), 800u);
  for (const std::string& m : messages) EXPECT_EQ(m, std::string(100, m[0]));
}

// One line per call in <root>/dev/kmsg; without the device, syslog instead
// (the device is not created).
TEST(Log, KernelLogGoesToKmsgElseToSyslog) {
  char dir[] = "/tmp/bclog-XXXXXX";
  std::string root = mkdtemp(dir);
  setenv("BOOTCRANK_ROOT", root.c_str(), 1);
  mkdir((root + "/dev").c_str(), 0755);
  EXPECT_NO_THROW(KernelLog("to syslog %s", "instead"));
  EXPECT_NE(access((root + "/dev/kmsg").c_str(), F_OK), 0);
  std::ofstream(root + "/dev/kmsg").close();
  KernelLog("Bootcrank plugin %s activated.", "net");
  KernelLog("second %d", 2);
  std::ifstream kmsg(root + "/dev/kmsg");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kmsg), {}),
            "<6>bootcrank: Bootcrank plugin net activated.\n<6>bootcrank: second 2\n");
  unsetenv("BOOTCRANK_ROOT");
  EXPECT_EQ(testing::Shell("rm -rf '" + root + "'"), 0);
}

}  // namespace
}  // namespace bootcrank
