#include "host/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

#include "host/host_control.h"
#include "host/host_root.h"
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
  std::regex record(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z bootcrank\[)" +
                    std::to_string(getpid()) + R"(\]: (\w+): (.*)\n(\n?))");
  std::string text = capture.Text();
  std::vector<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), record), end; it != end; ++it)
    found.push_back((*it)[1].str() + "=" + (*it)[2].str() + (*it)[3].str());
  EXPECT_EQ(found, (std::vector<std::string>{"error=first 1", "info=second\n", "warning=third w",
                                             "alert=raised", "progress=progressing",
                                             "status=state"}))
      << text;
}

TEST(Log, ConcurrentRecordsNeverInterleave) {
  testing::LogCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Log_Level(kLogInfo, "%d %s\n", i, std::string(100, 'a' + t).c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::string> messages = capture.Messages("info");
  ASSERT_EQ(messages.size(), 800u);
  for (const std::string& m : messages) EXPECT_TRUE(std::regex_match(m, std::regex(R"(\d+ ([a-d])\1{99})"))) << m;
}

// Only an absolute root prefixes host paths. The kernel log gets one line per
// call in <root>/dev/kmsg; without the device, syslog instead (not created).
TEST(Log, HostRootAndKernelLog) {
  const std::pair<const char*, const char*> cases[] = {
      {nullptr, "/x"}, {"", "/x"}, {"relative/dir", "/x"}, {"/sandbox//", "/sandbox/x"}, {"/", "/x"}};
  for (const auto& [root, expected] : cases) {
    root ? setenv("BOOTCRANK_ROOT", root, 1) : unsetenv("BOOTCRANK_ROOT");
    EXPECT_EQ(host::HostPath("/x"), expected) << (root ? root : "unset");
  }
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
