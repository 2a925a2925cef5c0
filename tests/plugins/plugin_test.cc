#include "plugins/plugin.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "plugins/exception.h"
#include "support/log_capture.h"

namespace bootcrank {
namespace {

// A plugin whose methods count calls and then fail as `outcome` says.
class ScriptedPlugin : public Plugin {
 public:
  using Plugin::Plugin;
  void Start() override { Act(++starts); }
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override { Act(++hostProfiles); }

  int outcome = 0, starts = 0, hostProfiles = 0;

 private:
  void Act(int) {
    if (outcome == 1) throw MethodFailedException("start", Name(), "exited with code 3");
    if (outcome == 2) throw std::runtime_error("disk on fire");
    if (outcome == 3) throw 42;
  }
};

TEST(ExceptionTest, Texts) {  // MethodFailedException's: through InvokeMethod below
  EXPECT_STREQ(NotImplementedException("DaemonPlugin::Restart").what(),
               "method `DaemonPlugin::Restart' is not implemented");
  EXPECT_STREQ(InvalidPluginException("/p/foo.json", "no such file").what(),
               "plugin `/p/foo.json' is invalid: no such file");
}

TEST(InvokeMethodTest, ChoosesByExactNameAndLogsEachKindOfFailure) {
  ScriptedPlugin p("foo");
  testing::LogCapture capture;
  for (const char* method : {"start", "apply_host_profile", "stop", "Start"}) {
    EXPECT_TRUE(p.InvokeMethod(method)) << method;
  }
  EXPECT_EQ(p.starts, 1);
  EXPECT_EQ(p.hostProfiles, 1);
  for (int outcome : {1, 2, 3}) {
    p.outcome = outcome;
    EXPECT_FALSE(p.InvokeMethod(outcome == 2 ? "apply_host_profile" : "start"));
  }
  EXPECT_EQ(capture.Messages("info"),
            (std::vector<std::string>{"executing start plugin: foo",
                                      "executing host profile plugin: foo",
                                      "executing start plugin: foo",
                                      "executing host profile plugin: foo",
                                      "executing start plugin: foo"}));
  EXPECT_EQ(capture.Messages("error"),
            (std::vector<std::string>{
                "Method invocation failed: foo->start() failed: exited with code 3",
                "unable to invoke method 'apply_host_profile' on plugin 'foo': disk on fire",
                "unknown exception whilst attempting to execute method 'start' on plugin "
                "'foo'"}));
}

}  // namespace
}  // namespace bootcrank
