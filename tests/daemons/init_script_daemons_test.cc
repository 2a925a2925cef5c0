// Init scripts as daemon plugins: the listing that names them, which of them
// a run starts, and the plugins running the real scripts. Deactivation and
// the warnings of failed methods are checked in daemon-mode runs of the
// installed program (DaemonModeE2E).
#include "daemons/daemon_plugin.h"
#include "daemons/init_script_daemons.h"

#include "graph/graph.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/log_capture.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace {

using Strings = std::vector<std::string>;

TEST(InitScriptListingTest, OrdersByPriorityStablyAndSetsMalformedLinesAside) {
  std::istringstream in(
      "/c 30\n/a 10\n/b2 20\n/b1 20\n\n \t\n/neg -5\n/nopriority\n/word high\n"
      "/huge 2147483648\n \t/x\t\t +42 on off\n/last 1");
  InitScriptListing listing = ParseInitScriptListing(in);
  Strings paths;
  for (const InitScriptEntry& entry : listing.entries) paths.push_back(entry.path);
  EXPECT_EQ((Strings{"/neg", "/last", "/a", "/b2", "/b1", "/c", "/x"}), paths);
  EXPECT_EQ(42, listing.entries.back().priority);
  EXPECT_EQ((Strings{"/nopriority", "/word high", "/huge 2147483648"}), listing.malformed);

  // Twenty ties, more than a sort orders by insertion alone: an unstable sort
  // reorders them.
  std::string ties;
  Strings tied;
  for (int i = 0; i < 20; ++i) {
    tied.push_back("/t" + std::to_string(i));
    ties += tied.back() + " 7\n";
  }
  std::istringstream tiesIn(ties);
  paths.clear();
  for (const InitScriptEntry& entry : ParseInitScriptListing(tiesIn).entries)
    paths.push_back(entry.path);
  EXPECT_EQ(tied, paths);
}

TEST(InitScriptDiscoveryTest, StartRunsLeaveOutSyslogAndEventDaemons) {
  testing::TempRoot root;
  Graph graph;
  auto names = [](const RunList& list) {
    Strings names;
    for (Plugin* plugin : list) names.push_back(plugin->Name());
    return names;
  };
  EXPECT_EQ(Strings{}, names(DiscoverInitScriptDaemons(graph, false)));  // no listing tool
  root.Script("/bin/chkconfig", "exit 1");
  EXPECT_EQ(Strings{}, names(DiscoverInitScriptDaemons(graph, true)));  // a failing one

  root.Write("/listing",
             "/etc/init.d/evtd 5\n/etc/init.d/sshd 30\n/etc/init.d/bad\n/etc/init.d/hvsyslogd 1\n"
             "/etc/init.d/evtd.sh 6\n/etc/init.d/hvsyslogd2 2\n/etc/init.d/EVTD 7\n");
  root.Script("/bin/chkconfig", "[ \"$1\" = -p ] || exit 2\ncat " + root.Path("/listing"));
  testing::LogCapture log;
  EXPECT_EQ((Strings{"hvsyslogd2", "evtd.sh", "EVTD", "sshd"}),
            names(DiscoverInitScriptDaemons(graph, false)));
  EXPECT_EQ((Strings{"hvsyslogd", "hvsyslogd2", "evtd", "evtd.sh", "EVTD", "sshd"}),
            names(DiscoverInitScriptDaemons(graph, true)));
  EXPECT_EQ(Strings(2, "ignoring malformed init script listing line: /etc/init.d/bad"),
            log.Messages("info"));
}

// Failures of the scripts are checked in daemon-mode runs.
TEST(DaemonPluginTest, StartAndStopRunTheScriptAndAreLogged) {
  testing::TempRoot root;
  std::string script = root.Script("/etc/init.d/ntpd", "echo $1 >> " + root.Path("/calls"));
  Graph graph;
  LegacyDaemonPlugin& plugin =
      *graph.Add(std::make_unique<LegacyDaemonPlugin>(graph, "ntpd", script, 20));
  testing::LogCapture log;
  plugin.Start();
  plugin.Stop();
  EXPECT_EQ("start\nstop\n", root.Read("/calls"));
  EXPECT_EQ((Strings{"ntpd started.", "ntpd stopped."}), log.Messages("info"));
}

}  // namespace
}  // namespace bootcrank
