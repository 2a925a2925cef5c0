// The three plugin kinds in a real run of the installed program: JSON
// commands through the executor process, a native plugin through
// nativeExecutor, debug injections through the shell, ordered by barriers.
#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace testing {
namespace {

const char kBootmark[] = BOOTCRANK_BINARY_DIR "/examples/native/libbootmark.so";

bool HasRecord(const std::string& out, const std::string& tag,
               const std::string& message) {
  for (const LogLine& line : ParseLogRecords(out)) {
    if (line.tag == tag && line.message == message) return true;
  }
  return false;
}

TEST(PluginKindsEndToEnd, FailedCommandDoesNotStopTheList) {
  Sandbox box;
  box.WriteFile("/usr/libexec/bootcrank/plugins/cmds.json", R"({
    "metadata": {"version": 1, "requires": [], "provides": []},
    "operations": {"start": [
      "file append --path=/var/run/quarro/order --content=1",
      "file append --path=/no/such/dir/x --content=2",
      "file append --path=/var/run/quarro/order --content=3"]}})");
  RunResult run = box.Run({});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(box.ReadFile("/var/run/quarro/order"), "13");
  EXPECT_NE(run.out.find("cmds->start() failed: error while executing the cli"),
            std::string::npos)
      << run.out;
}

TEST(PluginKindsEndToEnd, NativeAndDebugPluginsRunInBarrierOrder) {
  Sandbox box;
  ASSERT_EQ(Shell(std::string("cp '") + kBootmark + "' '" + box.PluginDir() + "/'"), 0);
  // Both injections wait for the native plugin's barrier.
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                "after:bootmark-ready:after-done:test -f '" +
                    box.Path("/var/run/quarro/bootmark.started") + "' && touch '" +
                    box.Path("/var/run/quarro/after") + "'\n"
                "failing:bootmark-ready:failing-done:exit 3\n");
  RunResult run = box.Run({});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(box.Exists("/var/run/quarro/bootmark.started")) << run.out << run.err;
  EXPECT_TRUE(box.Exists("/var/run/quarro/after")) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "info", "debug injection 'failing' returned 0x000300"))
      << run.out;

  // Invoke mode runs the native plugin's second slot.
  run = box.Run({"--invoke", "--method=apply_host_profile", "--plugin=libbootmark.so"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(box.Exists("/var/run/quarro/bootmark.hostprofile")) << run.out << run.err;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
