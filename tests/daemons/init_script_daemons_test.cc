// The init-script listing: parsing and ordering, and discovery through a
// listing tool in a scratch host root.

#include "daemons/init_script_daemons.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemons/daemon_plugin.h"
#include "daemons/script_root.h"
#include "support/log_capture.h"

namespace bootcrank {
namespace {

using testing::LogCapture;
using testing::ScriptRoot;

InitScriptListing Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseInitScriptListing(in);
}

std::vector<std::string> Paths(const InitScriptListing& listing) {
  std::vector<std::string> paths;
  for (const InitScriptEntry& entry : listing.entries) paths.push_back(entry.path);
  return paths;
}

TEST(InitScriptListingTest, OrdersByAscendingPriorityKeepingListingOrderOnTies) {
  InitScriptListing listing = Parse(
      "/etc/init.d/c 30\n"
      "/etc/init.d/a 10\n"
      "/etc/init.d/b2 20\n"
      "/etc/init.d/b1 20\n"
      "/etc/init.d/a 10\n"
      "/etc/init.d/neg -5\n");
  EXPECT_EQ((std::vector<std::string>{"/etc/init.d/neg", "/etc/init.d/a", "/etc/init.d/a",
                                      "/etc/init.d/b2", "/etc/init.d/b1", "/etc/init.d/c"}),
            Paths(listing));
  EXPECT_EQ(-5, listing.entries.front().priority);
  EXPECT_EQ(30, listing.entries.back().priority);
  EXPECT_TRUE(listing.malformed.empty());
}

TEST(InitScriptListingTest, AcceptsAnyWhiteSpaceAndIgnoresWhatFollowsThePriority) {
  InitScriptEntry entry;
  ASSERT_TRUE(ParseInitScriptLine(" \t/etc/init.d/x\t\t +42 on off", &entry));
  EXPECT_EQ("/etc/init.d/x", entry.path);
  EXPECT_EQ(42, entry.priority);
  ASSERT_TRUE(ParseInitScriptLine("relative 7abc", &entry));
  EXPECT_EQ("relative", entry.path);
  EXPECT_EQ(7, entry.priority);
  // The last line need not end in a newline; a CR after the number is ignored.
  InitScriptListing listing = Parse("/a 2\r\n/b 1");
  EXPECT_EQ((std::vector<std::string>{"/b", "/a"}), Paths(listing));
}

TEST(InitScriptListingTest, LinesWithoutPathAndPriorityAreSetAside) {
  InitScriptListing listing = Parse(
      "\n"
      "   \t\n"
      "/etc/init.d/nopriority\n"
      "/etc/init.d/word high\n"
      "/etc/init.d/huge 2147483648\n"
      "/etc/init.d/fine 2147483647\n"
      "/etc/init.d/low -2147483648\n");
  EXPECT_EQ((std::vector<std::string>{"/etc/init.d/low", "/etc/init.d/fine"}), Paths(listing));
  EXPECT_EQ((std::vector<std::string>{"/etc/init.d/nopriority", "/etc/init.d/word high",
                                      "/etc/init.d/huge 2147483648"}),
            listing.malformed);
  InitScriptEntry untouched;
  untouched.path = "keep";
  EXPECT_FALSE(ParseInitScriptLine("/only/a/path", &untouched));
  EXPECT_EQ("keep", untouched.path);
}

class InitScriptDiscoveryTest : public ::testing::Test {
 protected:
  // A listing tool that prints `listing` when called with "-p".
  void Tool(const std::string& listing) {
    root_.Write("/listing", listing);
    root_.Script("/bin/chkconfig",
                 "[ \"$1\" = -p ] || exit 2\ncat " + root_.Path("/listing"));
  }

  static std::vector<std::string> Names(const RunList& list) {
    std::vector<std::string> names;
    for (Plugin* plugin : list) names.push_back(plugin->Name());
    return names;
  }

  ScriptRoot root_;
};

TEST_F(InitScriptDiscoveryTest, StartRunsLeaveOutSyslogAndEventDaemons) {
  Tool("/etc/init.d/evtd 5\n"
       "/etc/init.d/sshd 30\n"
       "/etc/init.d/hvsyslogd 1\n"
       "/etc/init.d/evtd.sh 6\n"
       "/etc/init.d/hvsyslogd2 2\n"
       "/etc/init.d/EVTD 7\n");
  EXPECT_EQ((std::vector<std::string>{"hvsyslogd2", "evtd.sh", "EVTD", "sshd"}),
            Names(DiscoverInitScriptDaemons(false)));
  EXPECT_EQ((std::vector<std::string>{"hvsyslogd", "hvsyslogd2", "evtd", "evtd.sh", "EVTD",
                                      "sshd"}),
            Names(DiscoverInitScriptDaemons(true)));
}

TEST_F(InitScriptDiscoveryTest, PluginsCarryTheListedPathAndPriority) {
  Tool("/opt/scripts/web 40\nlocal/ntpd 35\n");
  RunList list = DiscoverInitScriptDaemons(false);
  ASSERT_EQ(2u, list.size());
  auto* ntpd = dynamic_cast<LegacyDaemonPlugin*>(list[0]);
  auto* web = dynamic_cast<LegacyDaemonPlugin*>(list[1]);
  ASSERT_NE(nullptr, ntpd);
  ASSERT_NE(nullptr, web);
  EXPECT_EQ("ntpd", ntpd->Name());
  EXPECT_EQ(35u, ntpd->Priority());
  EXPECT_EQ("local/ntpd start", ntpd->Command(DaemonPlugin::kStartOperation));
  EXPECT_EQ("/opt/scripts/web stop", web->Command(DaemonPlugin::kStopOperation));
}

TEST_F(InitScriptDiscoveryTest, MalformedLinesAreReportedAndSkipped) {
  Tool("/etc/init.d/good 12\n/etc/init.d/bad\n\n/etc/init.d/worse x\n");
  LogCapture log;
  EXPECT_EQ((std::vector<std::string>{"good"}), Names(DiscoverInitScriptDaemons(false)));
  EXPECT_EQ((std::vector<std::string>{
                "ignoring malformed init script listing line: /etc/init.d/bad",
                "ignoring malformed init script listing line: /etc/init.d/worse x"}),
            log.Messages("info"));
}

TEST_F(InitScriptDiscoveryTest, MissingToolGivesAnEmptyRunList) {
  EXPECT_TRUE(DiscoverInitScriptDaemons(false).empty());
  root_.Script("/bin/chkconfig", "exit 1");
  EXPECT_TRUE(DiscoverInitScriptDaemons(true).empty());
}

TEST_F(InitScriptDiscoveryTest, LongListingsArriveWhole) {
  std::string listing;
  for (int i = 999; i >= 0; --i) {
    listing += "/etc/init.d/daemon-" + std::to_string(i) + " " + std::to_string(5000 + i) + "\n";
  }
  Tool(listing);
  RunList list = DiscoverInitScriptDaemons(true);
  ASSERT_EQ(1000u, list.size());
  EXPECT_EQ("daemon-0", list.front()->Name());
  EXPECT_EQ("daemon-999", list.back()->Name());
}

}  // namespace
}  // namespace bootcrank
