// Input that would be cut, in the installed program: a debug injection file
// over its read cap, a CLI command longer than the control protocol carries.
// Neither may run in part.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

// The cap falls in the middle of the last line's command: cut there it would
// run as a shorter, different command. The whole file is refused instead.
TEST(HostileInputE2E, DebugFileOverItsCapRunsNothingOfIt) {
  Sandbox box;
  const size_t kCap = 16 * 1024 * 1024;
  std::string first = "first:in1:out1:touch " + box.Path("/var/run/quarro/first.ran") + "\n";
  std::string last = "cut:in3:out3:touch " + box.Path("/var/run/quarro/cut-target-beyond-the-cap") + "\n";
  std::string pad = "pad:in2:out2:true #";
  size_t cutAt = last.find("-target");
  pad += std::string(kCap - first.size() - pad.size() - 1 - cutAt, 'x') + "\n";
  box.WriteFile("/etc/quarro/bootcrank/debug.conf", first + pad + last);
  RunResult run = box.Run({});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(box.Exists("/var/run/quarro/first.ran"));
  EXPECT_EQ("", box.ReadFile("/var/run/quarro/cut") + box.ReadFile("/var/run/quarro/cut-target"));
  EXPECT_TRUE(HasRecord(run.out, "warning", "ignoring debug injection file " +
                                                box.Path("/etc/quarro/bootcrank/debug.conf") +
                                                ": larger than 16777216 bytes"))
      << run.out.substr(0, 2000);
}

// A start command over 1023 bytes fails its plugin before anything of it is
// sent; it used to arrive cut and report success.
TEST(HostileInputE2E, CliCommandLongerThanTheProtocolFailsItsPluginUnsent) {
  Sandbox box;
  std::string content(1450, 'c');
  box.WriteFile(box.PluginDir().substr(box.Root().size()) + "/cert.json",
                Descriptor("", "", "\"file write --path=/var/run/quarro/first --content=1\", "
                                   "\"file write --path=/var/run/quarro/cert --content=" + content + "\""));
  box.WriteFile(box.PluginDir().substr(box.Root().size()) + "/other.json", MarkingDescriptor("other"));
  RunResult run = box.Run({});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(box.Exists("/var/run/quarro/cert"));
  EXPECT_FALSE(box.Exists("/var/run/quarro/first"));  // no command of the plugin ran
  EXPECT_TRUE(box.Exists("/var/run/quarro/other.ran"));
  EXPECT_TRUE(HasRecord(run.out, "error", "plugin 'cert': CLI command of 1499 bytes is longer than the "
                                          "limit of 1023 bytes: file write --path=/var/run/quarro/cert --content=ccccc"
                                          "cccccc..."))
      << run.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
