#include "plugins/plugin.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "plugins/exception.h"
#include "support/log_capture.h"

namespace bootcrank {
namespace {

// A plugin whose methods do what the test tells them.
class ScriptedPlugin : public Plugin {
 public:
  enum class Outcome { kSucceed, kMethodFailed, kStdException, kOther };
  explicit ScriptedPlugin(const std::string& name) : Plugin(name) {}

  void Start() override {
    ++starts;
    Act();
  }
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {
    ++hostProfiles;
    Act();
  }

  Outcome outcome = Outcome::kSucceed;
  int starts = 0;
  int hostProfiles = 0;

 private:
  void Act() {
    switch (outcome) {
      case Outcome::kSucceed: return;
      case Outcome::kMethodFailed: throw MethodFailedException("start", Name(), "exited with code 3");
      case Outcome::kStdException: throw std::runtime_error("disk on fire");
      case Outcome::kOther: throw 42;
    }
  }
};

TEST(ExceptionTest, TextsAreComposedOnce) {
  EXPECT_STREQ(Exception("plain").what(), "plain");
  EXPECT_STREQ(NotImplementedException("DaemonPlugin::Restart").what(),
               "method `DaemonPlugin::Restart' is not implemented");
  EXPECT_STREQ(MethodFailedException("start", "foo", "exited with code 3").what(),
               "foo->start() failed: exited with code 3");
  EXPECT_STREQ(InvalidPluginException("/usr/libexec/bootcrank/plugins/foo.json",
                                      "no such file or directory")
                   .what(),
               "plugin `/usr/libexec/bootcrank/plugins/foo.json' is invalid: no such file "
               "or directory");
  // All of them are caught as the standard exception.
  try {
    throw InvalidPluginException("p", "r");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "plugin `p' is invalid: r");
  }
}

TEST(PluginTest, NewPluginHasDefaults) {
  ScriptedPlugin p("fresh");
  EXPECT_EQ(p.ApiVersion(), -1);
  EXPECT_FALSE(p.RunOnce());
  EXPECT_TRUE(p.PluginVersion().empty());
  EXPECT_TRUE(p.RequiredFlags().empty());
  EXPECT_TRUE(p.DisablingFlags().empty());
  EXPECT_EQ(p.ExecutionClass(), 1u);
  EXPECT_EQ(p.DotAttributes(), "");
  EXPECT_EQ(p.ActivationStart().seconds, 0);
  EXPECT_EQ(p.ElapsedMicros(), 0);
  EXPECT_EQ(p.State(), NodeState::Idle);
}

TEST(PluginTest, ElapsedMicrosecondsBorrowAcrossSeconds) {
  EXPECT_EQ(ElapsedMicroseconds({1, 900000}, {3, 100000}), 1200000);
  EXPECT_EQ(ElapsedMicroseconds({0, 500000}, {1, 250000}), 750000);
}

TEST(InvokeMethodTest, ChoosesByExactNameAndLogs) {
  ScriptedPlugin p("foo");
  testing::LogCapture capture;
  EXPECT_TRUE(p.InvokeMethod("start"));
  EXPECT_TRUE(p.InvokeMethod("apply_host_profile"));
  EXPECT_TRUE(p.InvokeMethod("stop"));
  EXPECT_TRUE(p.InvokeMethod("Start"));
  EXPECT_EQ(p.starts, 1);
  EXPECT_EQ(p.hostProfiles, 1);
  EXPECT_EQ(capture.Messages("info"),
            (std::vector<std::string>{"executing start plugin: foo",
                                      "executing host profile plugin: foo"}));
  EXPECT_TRUE(capture.Messages("error").empty());
}

TEST(InvokeMethodTest, EachKindOfFailureHasItsMessage) {
  ScriptedPlugin p("foo");
  testing::LogCapture capture;
  p.outcome = ScriptedPlugin::Outcome::kMethodFailed;
  EXPECT_FALSE(p.InvokeMethod("start"));
  p.outcome = ScriptedPlugin::Outcome::kStdException;
  EXPECT_FALSE(p.InvokeMethod("apply_host_profile"));
  p.outcome = ScriptedPlugin::Outcome::kOther;
  EXPECT_FALSE(p.InvokeMethod("start"));
  EXPECT_EQ(capture.Messages("error"),
            (std::vector<std::string>{
                "Method invocation failed: foo->start() failed: exited with code 3",
                "unable to invoke method 'apply_host_profile' on plugin 'foo': disk on fire",
                "unknown exception whilst attempting to execute method 'start' on plugin "
                "'foo'"}));
}

}  // namespace
}  // namespace bootcrank
