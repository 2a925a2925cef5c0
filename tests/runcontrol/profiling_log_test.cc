#include "runcontrol/profiling_log.h"

#include "gtest/gtest.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace {

struct RecordedPlugin : Plugin {
  RecordedPlugin(const std::string& name, TimeValue start, TimeValue end) : Plugin(name) {
    activationStart = start, activationEnd = end;
  }
  const char* Kind() const override { return "test"; }
  void Start() override {}
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {}
};

TEST(ProfilingLog, FullLogThenADaemonSection) {
  testing::TempRoot root;
  boost::filesystem::create_directories(root.Path("var/log"));
  Settings settings = Settings::Instance();
  settings.verbose = settings.randomize = true;
  settings.parallel = settings.interactive = false;
  settings.randomSeed = -42;
  RecordedPlugin storage("storage", {0, 500000}, {1, 250000});
  RecordedPlugin net("net", {1796375293, 4217}, {1796375294, 999999});
  RecordedPlugin skipped("skipped", {}, {});
  // 5,000,000 s of uptime overflows 32-bit microseconds.
  WriteProfilingLog({1796375290, 1}, {1796375299, 123456}, 5000000, {&storage, &net, &skipped},
                    settings);
  AppendDaemonProfilingLog({30, 5}, {31, 6}, {&net, &skipped}, settings);
  const std::string fields =
      " Verbose: 1\n Parallel: 0\n Randomize: 1\n Interactive Mode: 0\n Random Seed: -42\n";
  EXPECT_EQ(
      "HVKernel Initialization Time: 5000000000000\n"
      "[1970-01-01 00:00:00.500000 - 1970-01-01 00:00:01.250000] sysboot: storage\n"
      "[2026-12-04 09:08:13.004217 - 2026-12-04 09:08:14.999999] sysboot: net\n"
      "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: skipped\n"
      "=== Bootcrank configuration info ===\n"
      " Start: 2026-12-04 09:08:10.000001\n End: 2026-12-04 09:08:19.123456\n" +
          fields +
          "[2026-12-04 09:08:13.004217 - 2026-12-04 09:08:14.999999] daemon: net\n"
          "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] daemon: skipped\n"
          "=== Daemon configuration info ===\n"
          " Start Daemon: 1970-01-01 00:00:30.000005\n End Daemon: 1970-01-01 00:00:31.000006\n" +
          fields,
      root.Read("var/log/sysboot.log"));
  EXPECT_EQ(0600, boost::filesystem::status(root.Path("var/log/sysboot.log")).permissions());
}

}  // namespace
}  // namespace bootcrank
