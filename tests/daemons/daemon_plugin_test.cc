// Daemon plugins running real init scripts: start, stop and deactivation with
// their log and kernel log texts.
#include "daemons/daemon_plugin.h"

#include <gtest/gtest.h>

#include "daemons/script_root.h"
#include "plugins/exception.h"
#include "support/log_capture.h"

namespace bootcrank {
namespace {

using testing::LogCapture;

class DaemonPluginTest : public ::testing::Test {
 protected:
  // A daemon whose init script appends its argument to /calls and exits
  // `code`. Daemons join the process-wide graph, which keeps plain pointers
  // to its nodes: like every plugin, they live until the process ends.
  LegacyDaemonPlugin& Daemon(const std::string& name, int code, uint32_t priority) {
    script_ = root_.Script("/etc/init.d/" + name, "echo $1 >> " + root_.Path("/calls") +
                                                     "\nexit " + std::to_string(code));
    return *new LegacyDaemonPlugin(name, script_, priority);
  }
  template <typename E, typename F>
  static std::string Thrown(F call) {
    try {
      call();
    } catch (const E& e) {
      return e.what();
    }
    return "nothing thrown";
  }

  testing::ScriptRoot root_;
  std::string script_;
};

TEST_F(DaemonPluginTest, StartAndStopRunTheScript) {
  LegacyDaemonPlugin& plugin = Daemon("ntpd", 0, 20);
  EXPECT_EQ(script_ + " start", plugin.Command(DaemonPlugin::kStartOperation));
  EXPECT_EQ(script_ + " stop", plugin.Command(DaemonPlugin::kStopOperation));
  LogCapture log;
  plugin.Start();
  plugin.Stop();
  EXPECT_EQ("start\nstop\n", root_.Read("/calls"));
  EXPECT_EQ((std::vector<std::string>{"ntpd started.", "ntpd stopped."}), log.Messages("info"));
}

TEST_F(DaemonPluginTest, FailuresNameTheMethodOnStartOnly) {
  LegacyDaemonPlugin& plugin = Daemon("broken", 4, 21);
  std::string reason = "Execution of command: " + script_ + " start failed with status: 4";
  LogCapture log;
  EXPECT_EQ("broken->start() failed: " + reason,
            Thrown<MethodFailedException>([&] { plugin.Start(); }));
  EXPECT_EQ("Execution of command: " + script_ + " stop failed with status: 4",
            Thrown<Exception>([&] { plugin.Stop(); }));
  EXPECT_TRUE(log.Has("warning", "Bootcrank failed to start: broken reason: " + reason));
  EXPECT_TRUE(log.Has("warning", "Bootcrank failed to stop: broken reason: Execution of command: " +
                                     script_ + " stop failed with status: 4"));
  EXPECT_TRUE(log.Messages("info").empty()) << log.Text();

  DaemonPlugin bare("bare", 7, 3);
  EXPECT_EQ("bare->start() failed: bare Daemon operations are not initialized",
            Thrown<MethodFailedException>([&] { bare.Start(); }));
}

TEST_F(DaemonPluginTest, DeactivateWritesTheKernelLogAndSwallowsAFailedStop) {
  for (int code : {0, 5}) {
    LegacyDaemonPlugin& plugin = Daemon("crond", code, 25);
    root_.Write("/dev/kmsg", "");
    EXPECT_NO_THROW(plugin.Deactivate(nullptr));
    EXPECT_EQ("<6>bootcrank: Deactivating Daemon crond.\n<6>bootcrank: Daemon crond " +
                  (code == 0 ? std::string("deactivated.\n")
                             : "deactivation failed: Execution of command: " + script_ +
                                   " stop failed with status: 5\n"),
              root_.Read("/dev/kmsg"));
  }
  EXPECT_EQ("stop\nstop\n", root_.Read("/calls"));
}

TEST_F(DaemonPluginTest, UnsupportedOperationsAreNotImplemented) {
  LegacyDaemonPlugin& plugin = Daemon("ntpd", 0, 27);
  DaemonPlugin bare("bare", 27, 3);
  EXPECT_EQ("method `LegacyDaemonPlugin::ApplyHostProfile' is not implemented",
            Thrown<NotImplementedException>([&] { plugin.ApplyHostProfile(); }));
  EXPECT_EQ("method `DaemonPlugin::ApplyHostProfile' is not implemented",
            Thrown<NotImplementedException>([&] { bare.ApplyHostProfile(); }));
  EXPECT_EQ("method `DaemonPlugin::Restart' is not implemented",
            Thrown<NotImplementedException>([&] { plugin.Restart(); }));
  EXPECT_EQ("method `DaemonPlugin::SSLReset' is not implemented",
            Thrown<NotImplementedException>([&] { plugin.SSLReset(); }));
  EXPECT_EQ("", root_.Read("/calls")) << "none of them runs the script";
}

}  // namespace
}  // namespace bootcrank
