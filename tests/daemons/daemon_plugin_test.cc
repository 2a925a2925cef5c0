// Daemon plugins running real init scripts: start, stop, activation and
// deactivation with their log and kernel log texts.

#include "daemons/daemon_plugin.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemons/script_root.h"
#include "graph/barrier.h"
#include "graph/graph_lock.h"
#include "plugins/exception.h"
#include "runcontrol/settings.h"
#include "support/log_capture.h"

namespace bootcrank {
namespace {

using testing::LogCapture;
using testing::ScriptRoot;

class DaemonPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings& settings = Settings::Instance();
    settings.daemonWait = true;
    settings.daemonWaitTimeout = 10;
    settings.method.clear();
    settings.interactive = false;
  }
  void TearDown() override {
    Settings::Instance().daemonWait = false;
    Settings::Instance().daemonWaitTimeout = 40;
  }

  // An init script that appends "<argument>" to /calls and exits `code`.
  std::string InitScript(const std::string& name, int code) {
    return root_.Script("/etc/init.d/" + name, "echo \"$1\" >> " + root_.Path("/calls") +
                                                   "\nexit " + std::to_string(code));
  }

  // Daemons join the process-wide graph, which keeps plain pointers to its
  // nodes: like every plugin, they live until the process ends.
  static LegacyDaemonPlugin& Daemon(const std::string& name, const std::string& script,
                                    uint32_t priority) {
    return *new LegacyDaemonPlugin(name, script, priority);
  }

  ScriptRoot root_;
};

TEST_F(DaemonPluginTest, LegacyPluginRunsItsScriptWithStartAndStop) {
  std::string script = InitScript("ntpd", 0);
  LegacyDaemonPlugin& plugin = Daemon("ntpd", script, 20);
  EXPECT_EQ("ntpd", plugin.Name());
  EXPECT_EQ(3u, plugin.ExecutionClass());
  EXPECT_EQ(20u, plugin.Priority());
  EXPECT_EQ(script + " start", plugin.Command(DaemonPlugin::kStartOperation));
  EXPECT_EQ(script + " stop", plugin.Command(DaemonPlugin::kStopOperation));

  LogCapture log;
  plugin.Start();
  plugin.Stop();
  EXPECT_EQ("start\nstop\n", root_.Read("/calls"));
  EXPECT_TRUE(log.Has("info", "ntpd started.")) << log.Text();
  EXPECT_TRUE(log.Has("info", "ntpd stopped.")) << log.Text();
}

TEST_F(DaemonPluginTest, OperationsWithoutCommandAreNotInitialized) {
  DaemonPlugin bare("bare", 7, 3);
  try {
    bare.Command(DaemonPlugin::kStartOperation);
    FAIL() << "no command is stored";
  } catch (const Exception& e) {
    EXPECT_STREQ("bare Daemon operations are not initialized", e.what());
  }

  LogCapture log;
  try {
    bare.Start();
    FAIL() << "Start must fail";
  } catch (const MethodFailedException& e) {
    EXPECT_STREQ("bare->start() failed: bare Daemon operations are not initialized", e.what());
  }
  EXPECT_TRUE(log.Has("warning",
                      "Bootcrank failed to start: bare reason: bare Daemon operations are "
                      "not initialized"))
      << log.Text();
}

TEST_F(DaemonPluginTest, FailingStartBecomesMethodFailure) {
  std::string script = InitScript("broken", 1);
  LegacyDaemonPlugin& plugin = Daemon("broken", script, 21);
  std::string reason = "Execution of command: " + script + " start failed with status: 1";
  LogCapture log;
  try {
    plugin.Start();
    FAIL() << "Start must fail";
  } catch (const MethodFailedException& e) {
    EXPECT_EQ("broken->start() failed: " + reason, e.what());
  }
  EXPECT_TRUE(log.Has("warning", "Bootcrank failed to start: broken reason: " + reason))
      << log.Text();
  EXPECT_TRUE(log.Messages("info").empty()) << log.Text();
}

TEST_F(DaemonPluginTest, FailingStopPassesTheErrorOnUnchanged) {
  std::string script = InitScript("broken", 4);
  LegacyDaemonPlugin& plugin = Daemon("broken", script, 22);
  std::string reason = "Execution of command: " + script + " stop failed with status: 4";
  LogCapture log;
  try {
    plugin.Stop();
    FAIL() << "Stop must fail";
  } catch (const MethodFailedException& e) {
    FAIL() << "Stop must not wrap its error: " << e.what();
  } catch (const Exception& e) {
    EXPECT_EQ(reason, e.what());
  }
  EXPECT_TRUE(log.Has("warning", "Bootcrank failed to stop: broken reason: " + reason))
      << log.Text();
}

TEST_F(DaemonPluginTest, ActivateShowsProgressAndStartsTheDaemon) {
  std::string script = InitScript("sshd", 0);
  LegacyDaemonPlugin& plugin = Daemon("sshd", script, 23);
  LogCapture log;
  plugin.Activate(nullptr);
  EXPECT_TRUE(log.Has("progress", "Starting service sshd")) << log.Text();
  EXPECT_TRUE(log.Has("info", "sshd started.")) << log.Text();
  EXPECT_EQ("start\n", root_.Read("/calls"));
  EXPECT_NE(0, plugin.ActivationEnd().seconds) << "activation is timed";
  EXPECT_NE(std::string::npos,
            root_.Read("/dev/kmsg").find("Bootcrank plugin sshd activated."));
}

TEST_F(DaemonPluginTest, ActivateReportsAFailedStartWithoutThrowing) {
  std::string script = InitScript("sshd", 2);
  LegacyDaemonPlugin& plugin = Daemon("sshd", script, 24);
  LogCapture log;
  EXPECT_NO_THROW(plugin.Activate(nullptr));
  std::string failure =
      "sshd->start() failed: Execution of command: " + script + " start failed with status: 2";
  EXPECT_TRUE(log.Has("error", "Method invocation failed: " + failure)) << log.Text();
  EXPECT_NE(std::string::npos, root_.Read("/dev/kmsg").find("Bootcrank plugin sshd activation failed: " + failure));
}

TEST_F(DaemonPluginTest, DeactivateWritesTheKernelLog) {
  LegacyDaemonPlugin& plugin = Daemon("crond", InitScript("crond", 0), 25);
  LogCapture log;
  plugin.Deactivate(nullptr);
  EXPECT_EQ("stop\n", root_.Read("/calls"));
  EXPECT_TRUE(log.Has("info", "executing stop for daemon crond.")) << log.Text();
  EXPECT_EQ(
      "<6>bootcrank: Deactivating Daemon crond.\n"
      "<6>bootcrank: Daemon crond deactivated.\n",
      root_.Read("/dev/kmsg"));
}

TEST_F(DaemonPluginTest, DeactivateSwallowsAFailedStop) {
  std::string script = InitScript("crond", 5);
  LegacyDaemonPlugin& plugin = Daemon("crond", script, 26);
  LogCapture log;
  EXPECT_NO_THROW(plugin.Deactivate(nullptr));
  EXPECT_EQ(
      "<6>bootcrank: Deactivating Daemon crond.\n"
      "<6>bootcrank: Daemon crond deactivation failed: Execution of command: " +
          script + " stop failed with status: 5\n",
      root_.Read("/dev/kmsg"));
}

TEST_F(DaemonPluginTest, UnsupportedOperationsAreNotImplemented) {
  LegacyDaemonPlugin& plugin = Daemon("ntpd", InitScript("ntpd", 0), 27);
  DaemonPlugin bare("bare", 27, 3);
  EXPECT_FALSE(plugin.UsesHostProfile());
  auto text = [](auto call) {
    try {
      call();
    } catch (const NotImplementedException& e) {
      return std::string(e.what());
    }
    return std::string("no NotImplementedException");
  };
  EXPECT_EQ("method `LegacyDaemonPlugin::ApplyHostProfile' is not implemented",
            text([&] { plugin.ApplyHostProfile(); }));
  EXPECT_EQ("method `DaemonPlugin::ApplyHostProfile' is not implemented",
            text([&] { bare.ApplyHostProfile(); }));
  EXPECT_EQ("method `DaemonPlugin::Restart' is not implemented",
            text([&] { plugin.Restart(); }));
  EXPECT_EQ("method `DaemonPlugin::SSLReset' is not implemented",
            text([&] { plugin.SSLReset(); }));
  EXPECT_EQ("", root_.Read("/calls")) << "none of them runs the script";
}

TEST_F(DaemonPluginTest, LegacyPluginsJoinThePriorityChain) {
  LegacyDaemonPlugin& low = Daemon("low", InitScript("low", 0), 1010);
  LegacyDaemonPlugin& high = Daemon("high", InitScript("high", 0), 1020);
  GraphLockHolder lock;
  PriorityBarrier* lowBarrier = GetPriorityBarrier(1010);
  PriorityBarrier* highBarrier = GetPriorityBarrier(1020);
  auto contains = [](const std::vector<Node*>& nodes, const Node* node) {
    return std::find(nodes.begin(), nodes.end(), node) != nodes.end();
  };
  // Each level's barrier waits for its daemons; the higher daemon waits for
  // the lower level's barrier.
  EXPECT_TRUE(contains(lowBarrier->Dependencies(), &low));
  EXPECT_TRUE(contains(highBarrier->Dependencies(), &high));
  EXPECT_TRUE(contains(high.Dependencies(), lowBarrier));
  EXPECT_FALSE(contains(low.Dependencies(), highBarrier));
}

}  // namespace
}  // namespace bootcrank
