// The plugin kinds in real runs of the installed program: JSON commands
// through the executor process and the core CLI extension, a native plugin
// through nativeExecutor, debug injections through the shell.
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

TEST(PluginKindsEndToEnd, RunStartsAndStopsOneExecutorAndAFailedCommandDoesNotEndTheList) {
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
  EXPECT_NE(run.out.find("cmds->start() failed: error while executing the cli"), std::string::npos)
      << run.out;
  for (const char* info : {"Launching Executor", "Setting up Executor - Reset Requested",
                           "Executor has been Successfully Stopped"}) {
    EXPECT_TRUE(HasRecord(run.out, "info", info)) << info << "\n" << run.out;
  }
  std::string log = box.ReadFile("/var/log/bootcrank-hvcli-stdout.log");
  EXPECT_EQ(Messages(log, "info"), (std::vector<std::string>{"Executor Reset - polling for commands",
                                                           "Bootcrank executor signalled to stop"})) << log;
  EXPECT_EQ(0, Shell("nm -D --defined-only '" + box.Program() + "' | grep -q ' D __hvclic_magic$'"));
}

TEST(PluginKindsEndToEnd, NativeAndDebugPluginsRunInBarrierOrder) {
  Sandbox box;
  ASSERT_EQ(Shell("cp '" BOOTCRANK_BINARY_DIR "/examples/native/libbootmark.so' '" +
                  box.PluginDir() + "/'"), 0);
  // Both injections wait for the native plugin's barrier.
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                "after:bootmark-ready:after-done:test -f '" +
                    box.Path("/var/run/quarro/bootmark.started") + "' && touch '" +
                    box.Path("/var/run/quarro/after") + "'\nfailing:bootmark-ready:x:exit 3\n");
  RunResult run = box.Run({});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(box.Exists("/var/run/quarro/after")) << run.out << run.err;
  EXPECT_TRUE(HasRecord(run.out, "info", "debug injection 'failing' returned 0x000300")) << run.out;

  // Invoke mode runs the native plugin's second slot.
  run = box.Run({"--invoke", "--method=apply_host_profile", "--plugin=libbootmark.so"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(box.Exists("/var/run/quarro/bootmark.hostprofile")) << run.out << run.err;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
