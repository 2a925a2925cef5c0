// Daemon plugins running real init scripts. Deactivation and the warnings of
// failed methods are checked in daemon-mode runs of the installed program.
#include "daemons/daemon_plugin.h"

#include <gtest/gtest.h>

#include <functional>

#include "plugins/exception.h"
#include "support/log_capture.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace {

using testing::Thrown;

TEST(DaemonPluginTest, StartAndStopRunTheScriptAndOnlyStartNamesTheMethodOnFailure) {
  testing::TempRoot root;
  // Daemons join the process-wide graph: like every plugin, they live until the process ends.
  std::string script = root.Script("/etc/init.d/ntpd", "echo $1 >> " + root.Path("/calls") + "\nexit $(cat " +
                                                           root.Path("/code") + ")");
  LegacyDaemonPlugin& plugin = *new LegacyDaemonPlugin("ntpd", script, 20);
  root.Write("/code", "0");
  testing::LogCapture log;
  plugin.Start();
  plugin.Stop();
  EXPECT_EQ("start\nstop\n", root.Read("/calls"));
  EXPECT_EQ((std::vector<std::string>{"ntpd started.", "ntpd stopped."}), log.Messages("info"));

  root.Write("/code", "4");
  EXPECT_EQ("ntpd->start() failed: Execution of command: " + script + " start failed with status: 4",
            Thrown<MethodFailedException>([&] { plugin.Start(); }));
  EXPECT_EQ("Execution of command: " + script + " stop failed with status: 4",
            Thrown<Exception>([&] { plugin.Stop(); }));
  DaemonPlugin bare("bare", 7, 3);
  EXPECT_EQ("bare->start() failed: bare Daemon operations are not initialized",
            Thrown<MethodFailedException>([&] { bare.Start(); }));

  for (const auto& [method, call] : std::vector<std::pair<std::string, std::function<void()>>>{
           {"LegacyDaemonPlugin::ApplyHostProfile", [&] { plugin.ApplyHostProfile(); }},
           {"DaemonPlugin::ApplyHostProfile", [&] { bare.ApplyHostProfile(); }},
           {"DaemonPlugin::Restart", [&] { plugin.Restart(); }},
           {"DaemonPlugin::SSLReset", [&] { plugin.SSLReset(); }}}) {
    EXPECT_EQ("method `" + method + "' is not implemented", Thrown<NotImplementedException>(call));
  }
  EXPECT_EQ("start\nstop\nstart\nstop\n", root.Read("/calls")) << "none of them runs the script";
}

}  // namespace
}  // namespace bootcrank
