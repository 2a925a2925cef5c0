#include "plugins/plugin.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/exception.h"
#include "support/log_capture.h"

namespace bootcrank {
namespace {

// A plugin whose methods count calls and then fail as `outcome` says.
class ScriptedPlugin : public Plugin {
 public:
  using Plugin::Plugin;
  const char* Kind() const override { return "test"; }
  void Start() override { ++starts, Act(); }
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override { ++hostProfiles, Act(); }
  void Act() {
    if (outcome == 1) throw MethodFailedException("start", Name(), "exited with code 3");
    if (outcome == 2) throw std::runtime_error("disk on fire");
    if (outcome == 3) throw 42;
  }
  int outcome = 0, starts = 0, hostProfiles = 0;
};

TEST(InvokeMethodTest, ChoosesByExactNameAndLogsEachKindOfFailure) {
  ScriptedPlugin p("foo");
  testing::LogCapture capture;
  for (const char* method : {"start", "apply_host_profile", "stop", "Start"})
    EXPECT_TRUE(p.InvokeMethod(method));
  EXPECT_EQ((std::pair{p.starts, p.hostProfiles}), (std::pair{1, 1}));
  for (int outcome : {1, 2, 3}) {
    p.outcome = outcome;
    EXPECT_FALSE(p.InvokeMethod(outcome == 2 ? "apply_host_profile" : "start"));
  }
  const std::string start = "executing start plugin: foo",
                    profile = "executing host profile plugin: foo";
  EXPECT_EQ(capture.Messages("info"),
            (std::vector<std::string>{start, profile, start, profile, start}));
  EXPECT_EQ(capture.Messages("error"),
            (std::vector<std::string>{
                "Method invocation failed: foo->start() failed: exited with code 3",
                "unable to invoke method 'apply_host_profile' on plugin 'foo': disk on fire",
                "unknown exception whilst attempting to execute method 'start' on plugin 'foo'"}));
}

}  // namespace
}  // namespace bootcrank
