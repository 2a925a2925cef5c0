// Discovery and its filters in runs of the installed program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

using Names = std::vector<std::string>;

bool Contains(const Names& messages, const std::string& message) {
  return std::find(messages.begin(), messages.end(), message) != messages.end();
}

// The alerts that report a plugin file that could not be loaded.
Names LoadAlerts(const std::string& out) {
  Names alerts;
  for (const std::string& alert : Messages(out, "alert")) {
    if (alert.find("exception occurred whilst loading plugin ") == 0) alerts.push_back(alert);
  }
  return alerts;
}

class DiscoveryEndToEnd : public ::testing::Test {
 protected:
  void Plugin(const std::string& fileName, const std::string& content) {
    box_.WriteFile("/usr/libexec/bootcrank/plugins/" + fileName, content);
  }
  bool Ran(const std::string& marker) const {
    return box_.Exists("/var/run/quarro/" + marker + ".ran");
  }

  Sandbox box_;
};

TEST_F(DiscoveryEndToEnd, EveryFilterStopsItsPlugins) {
  Plugin("plain.json", MarkingDescriptor("plain"));
  Plugin("blocked.json", MarkingDescriptor("blocked"));
  Plugin("off.json", MarkingDescriptor("off", ", \"disabling_flags\": [\"x\"]"));
  Plugin("need.json", MarkingDescriptor("need", ", \"required_flags\": [\"a\", \"b\"]"));
  Plugin("both.json",
         MarkingDescriptor("both", ", \"disabling_flags\": [\"x\"], \"required_flags\": [\"c\"]"));
  Plugin("flagged.json", MarkingDescriptor("flagged", ", \"required_flags\": [\"a\"]"));
  Plugin("once.json", "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [],"
                      " \"run_once\": true, \"plugin_version\": \"2.1\"},"
                      " \"operations\": {\"start\": [\"file write"
                      " --path=/var/run/quarro/once.ran --content=ran\"]}}");
  Plugin("README", "");
  Plugin("notes.txt", "");

  RunResult run = box_.Run({"--plugin-flags=x,a", "--disable-plugins=blocked,notes.txt",
                            "--run-once=once2.1"});
  EXPECT_EQ(0, run.status) << run.out << run.err;

  Names warnings = Messages(run.out, "warning");
  Names infos = Messages(run.out, "info");
  for (const char* message :
       {"ignoring plugin 'README' of unspecified type...",
        "ignoring plugin 'notes.txt' of unknown type (txt)...",
        "ignoring plugin 'off', disabled due to boot flags: x .",
        "ignoring plugin 'need', disabled due to missing required boot flags: b .",
        "ignoring plugin 'both', disabled due to boot flags: x .",
        "ignoring plugin 'both', disabled due to missing required boot flags: c ."}) {
    EXPECT_TRUE(Contains(warnings, message)) << message << "\n" << run.out;
  }
  EXPECT_TRUE(Contains(infos, "ignoring plugin 'blocked' due to blacklist.")) << run.out;
  EXPECT_TRUE(Contains(infos, "ignoring plugin 'once' because version '2.1'  has already been run."))
      << run.out;
  EXPECT_TRUE(Messages(run.out, "alert").empty()) << run.out;

  EXPECT_TRUE(Ran("plain"));
  EXPECT_TRUE(Ran("flagged"));
  for (const char* stopped : {"blocked", "off", "need", "both", "once"}) {
    EXPECT_FALSE(Ran(stopped)) << stopped;
  }
  // The run-once plugin stays in the run list, never activated; the others
  // that a filter stopped are not listed.
  std::string log = box_.ReadFile("/var/log/sysboot.log");
  EXPECT_NE(std::string::npos,
            log.find("[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: once\n"))
      << log;
  for (const char* unlisted : {"blocked", "off", "need", "both"}) {
    EXPECT_EQ(std::string::npos, log.find(std::string("sysboot: ") + unlisted + "\n")) << log;
  }
}

TEST_F(DiscoveryEndToEnd, BrokenDescriptorsAlertWhileDiscoveryGoesOn) {
  Plugin("garbage.json", "this is not json");
  Plugin("nometa.json", "{\"operations\": {\"start\": []}}");
  Plugin("good.json", MarkingDescriptor("good"));
  RunResult run = box_.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  std::string dir = "/usr/libexec/bootcrank/plugins/";
  Names expected = {
      "exception occurred whilst loading plugin garbage.json: plugin `" +
          box_.Path(dir + "garbage.json") + "' is invalid: plugin root is not an object",
      "exception occurred whilst loading plugin nometa.json: plugin `" +
          box_.Path(dir + "nometa.json") + "' is invalid: invalid metadata interface"};
  Names alerts = LoadAlerts(run.out);
  std::sort(alerts.begin(), alerts.end());
  EXPECT_EQ(expected, alerts);
  for (const std::string& alert : expected) {
    EXPECT_TRUE(Contains(Messages(run.out, "warning"), alert)) << alert;
  }
  EXPECT_TRUE(Ran("good"));
}

TEST_F(DiscoveryEndToEnd, PluginOptionLoadsOnlyTheNamedFiles) {
  Plugin("first.json", MarkingDescriptor("first"));
  Plugin("second.json", MarkingDescriptor("second"));
  Plugin("broken.json", "[]");
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                 "inject:start-a:stop-a:touch " + box_.Path("/var/run/quarro/inject.ran") +
                     "\n"
                     "other:start-b:stop-b:touch " +
                     box_.Path("/var/run/quarro/other.ran") + "\n");
  RunResult run = box_.Run({"--plugin=second.json,inject.debug"});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(Ran("second"));
  EXPECT_TRUE(Ran("inject"));
  EXPECT_FALSE(Ran("first"));
  EXPECT_FALSE(Ran("other"));
  EXPECT_TRUE(LoadAlerts(run.out).empty()) << "broken.json must not be examined";

  // Without the option the whole directory runs, then every debug entry.
  RunResult full = box_.Run({});
  EXPECT_TRUE(Ran("first"));
  EXPECT_TRUE(Ran("other"));
  EXPECT_EQ(1u, LoadAlerts(full.out).size()) << full.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
