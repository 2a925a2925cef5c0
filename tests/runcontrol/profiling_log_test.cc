// The boot profiling log written into a scratch host root, compared whole.
#include "runcontrol/profiling_log.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "support/log_capture.h"
#include "tests/runcontrol/temp_root.h"

namespace bootcrank {
namespace {

using testing::LogCapture;
using testing::TempRoot;

// A plugin whose only interesting property is its name and activation times.
class RecordedPlugin : public Plugin {
 public:
  RecordedPlugin(const std::string& name, TimeValue start, TimeValue end) : Plugin(name) {
    activationStart = start;
    activationEnd = end;
  }
  void Start() override {}
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {}
};

std::string Timestamp(int64_t seconds, int64_t microseconds) {
  std::ostringstream out;
  FormatTimestamp(out, TimeValue{seconds, microseconds});
  return out.str();
}

TEST(FormatTimestamp, WritesUtcWithZeroPaddedFields) {
  EXPECT_EQ("1970-01-01 00:00:00.000000", Timestamp(0, 0));
  EXPECT_EQ("1970-01-01 00:00:00.500000", Timestamp(0, 500000));
  EXPECT_EQ("1970-01-01 00:00:01.250000", Timestamp(1, 250000));
  EXPECT_EQ("2026-12-04 09:08:13.004217", Timestamp(1796375293, 4217));
  EXPECT_EQ("0999-01-02 03:04:05.000006", Timestamp(-30641662555, 6));
}

TEST(FormatTimestamp, LeavesZeroAsTheFillCharacter) {
  std::ostringstream out;
  FormatTimestamp(out, TimeValue{0, 0});
  out << "|" << std::setw(3) << 7;
  EXPECT_EQ("1970-01-01 00:00:00.000000|007", out.str());
}

class ProfilingLogTest : public ::testing::Test {
 protected:
  ProfilingLogTest() : root_(true), settings_(Settings::Instance()) {
    root_.MakeDirectory("var/log");
    settings_.verbose = true;
    settings_.parallel = false;
    settings_.randomize = true;
    settings_.interactive = false;
    settings_.randomSeed = -42;
  }

  std::string LogText() const { return root_.Read("var/log/sysboot.log"); }
  std::string LogPath() const { return root_.Path("var/log/sysboot.log"); }

  TempRoot root_;
  Settings& settings_;
  RecordedPlugin storage_{"storage", {0, 500000}, {1, 250000}};
  RecordedPlugin net_{"net", {1796375293, 4217}, {1796375294, 999999}};
  RecordedPlugin skipped_{"skipped", {}, {}};
};

TEST_F(ProfilingLogTest, FullLogListsPluginsAndSettings) {
  WriteProfilingLog({1796375290, 1}, {1796375299, 123456}, 75, {&storage_, &net_, &skipped_},
                    settings_);
  EXPECT_EQ(
      "HVKernel Initialization Time: 75000000\n"
      "[1970-01-01 00:00:00.500000 - 1970-01-01 00:00:01.250000] sysboot: storage\n"
      "[2026-12-04 09:08:13.004217 - 2026-12-04 09:08:14.999999] sysboot: net\n"
      "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: skipped\n"
      "=== Bootcrank configuration info ===\n"
      " Start: 2026-12-04 09:08:10.000001\n"
      " End: 2026-12-04 09:08:19.123456\n"
      " Verbose: 1\n"
      " Parallel: 0\n"
      " Randomize: 1\n"
      " Interactive Mode: 0\n"
      " Random Seed: -42\n",
      LogText());
  EXPECT_EQ(0600u, root_.Mode("var/log/sysboot.log"));
  EXPECT_EQ(std::vector<std::string>{"sysboot.log"}, root_.List("var/log"));
}

TEST_F(ProfilingLogTest, EmptyRunListReplacesAnOldLog) {
  root_.Write("var/log/sysboot.log", "an older and much longer log\nwith two lines\n");
  chmod(LogPath().c_str(), 0644);
  settings_.verbose = false;
  settings_.parallel = true;
  settings_.randomSeed = 1796375293;
  WriteProfilingLog({0, 0}, {0, 1}, 0, {}, settings_);
  EXPECT_EQ(
      "HVKernel Initialization Time: 0\n"
      "=== Bootcrank configuration info ===\n"
      " Start: 1970-01-01 00:00:00.000000\n"
      " End: 1970-01-01 00:00:00.000001\n"
      " Verbose: 0\n"
      " Parallel: 1\n"
      " Randomize: 1\n"
      " Interactive Mode: 0\n"
      " Random Seed: 1796375293\n",
      LogText());
  EXPECT_EQ(0644u, root_.Mode("var/log/sysboot.log"));
}

TEST_F(ProfilingLogTest, LongUptimeDoesNotOverflow) {
  WriteProfilingLog({0, 0}, {0, 0}, 5000000, {}, settings_);
  EXPECT_EQ(0u, LogText().find("HVKernel Initialization Time: 5000000000000\n"));
}

TEST_F(ProfilingLogTest, DaemonSectionsFollowTheFullLog) {
  WriteProfilingLog({10, 0}, {20, 0}, 3, {&storage_}, settings_);
  std::string full = LogText();
  AppendDaemonProfilingLog({30, 5}, {31, 6}, {&net_, &skipped_}, settings_);
  settings_.interactive = true;
  AppendDaemonProfilingLog({40, 0}, {41, 0}, {}, settings_);
  EXPECT_EQ(full +
                "[2026-12-04 09:08:13.004217 - 2026-12-04 09:08:14.999999] daemon: net\n"
                "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] daemon: skipped\n"
                "=== Daemon configuration info ===\n"
                " Start Daemon: 1970-01-01 00:00:30.000005\n"
                " End Daemon: 1970-01-01 00:00:31.000006\n"
                " Verbose: 1\n"
                " Parallel: 0\n"
                " Randomize: 1\n"
                " Interactive Mode: 0\n"
                " Random Seed: -42\n"
                "=== Daemon configuration info ===\n"
                " Start Daemon: 1970-01-01 00:00:40.000000\n"
                " End Daemon: 1970-01-01 00:00:41.000000\n"
                " Verbose: 1\n"
                " Parallel: 0\n"
                " Randomize: 1\n"
                " Interactive Mode: 1\n"
                " Random Seed: -42\n",
            LogText());
  EXPECT_EQ(std::vector<std::string>{"sysboot.log"}, root_.List("var/log"));
}

TEST_F(ProfilingLogTest, DaemonSectionWithoutALogIsAWarning) {
  LogCapture log;
  AppendDaemonProfilingLog({30, 0}, {31, 0}, {&net_}, settings_);
  std::vector<std::string> warnings = log.Messages("warning");
  ASSERT_EQ(1u, warnings.size());
  EXPECT_EQ(std::string("unable to log daemon profiling information: failed to write to temp "
                        "file: ") +
                std::strerror(ENOENT) + ".",
            warnings[0]);
  EXPECT_TRUE(log.Messages("error").empty());
  EXPECT_TRUE(root_.List("var/log").empty());
}

TEST_F(ProfilingLogTest, UnusableLogDirectoryIsAWarning) {
  root_.Write("var/log/sysboot.log", "old\n");
  boost::filesystem::remove_all(root_.Path("var"));
  root_.Write("var", "a file where the directory belongs");
  LogCapture log;
  WriteProfilingLog({0, 0}, {0, 0}, 1, {&storage_}, settings_);
  AppendDaemonProfilingLog({0, 0}, {0, 0}, {&storage_}, settings_);
  EXPECT_EQ((std::vector<std::string>{
                "unable to log profiling information: unable to create temporary file to write '" +
                    LogPath() + "': " + std::strerror(ENOTDIR) + ".",
                "unable to log daemon profiling information: unable to create temporary file to "
                "write '" +
                    LogPath() + "': " + std::strerror(ENOTDIR) + "."}),
            log.Messages("warning"));
}

}  // namespace
}  // namespace bootcrank
