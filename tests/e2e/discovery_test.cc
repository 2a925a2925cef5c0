// Discovery, its filters and broken descriptors in a run of the installed program.
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

TEST(DiscoveryEndToEnd, EveryFilterStopsItsPluginsAndBrokenDescriptorsAlert) {
  Sandbox box;
  auto plugin = [&](const std::string& file, const std::string& text) { box.WriteFile("/usr/libexec/bootcrank/plugins/" + file, text); };
  plugin("plain.json", MarkingDescriptor("plain"));
  plugin("blocked.json", MarkingDescriptor("blocked"));
  plugin("off.json", MarkingDescriptor("off", ", \"disabling_flags\": [\"x\"]"));
  plugin("need.json", MarkingDescriptor("need", ", \"required_flags\": [\"a\", \"b\"]"));
  plugin("both.json", MarkingDescriptor("both", ", \"disabling_flags\": [\"x\"], \"required_flags\": [\"c\"]"));
  plugin("flagged.json", MarkingDescriptor("flagged", ", \"required_flags\": [\"a\"]"));
  plugin("once.json", MarkingDescriptor("once", "", "true", "2.1"));
  plugin("README", "");
  plugin("notes.txt", "");
  plugin("garbage.json", "this is not json");
  plugin("nometa.json", "{\"operations\": {\"start\": []}}");

  RunResult run = box.Run({"--plugin-flags=x,a", "--disable-plugins=blocked,notes.txt",
                           "--run-once=once2.1"});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  for (const char* message :
       {"ignoring plugin 'README' of unspecified type...",
        "ignoring plugin 'notes.txt' of unknown type (txt)...",
        "ignoring plugin 'off', disabled due to boot flags: x .",
        "ignoring plugin 'need', disabled due to missing required boot flags: b .",
        "ignoring plugin 'both', disabled due to boot flags: x .",
        "ignoring plugin 'both', disabled due to missing required boot flags: c ."}) {
    EXPECT_TRUE(HasRecord(run.out, "warning", message)) << message << "\n" << run.out;
  }
  EXPECT_TRUE(HasRecord(run.out, "info", "ignoring plugin 'blocked' due to blacklist.")) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "info", "ignoring plugin 'once' because version '2.1'  has already been run."))
      << run.out;
  std::string dir = box.PluginDir() + "/";
  for (const std::string& alert :
       {"exception occurred whilst loading plugin garbage.json: plugin `" + dir +
            "garbage.json' is invalid: plugin root is not an object",
        "exception occurred whilst loading plugin nometa.json: plugin `" + dir +
            "nometa.json' is invalid: invalid metadata interface"}) {
    EXPECT_TRUE(HasRecord(run.out, "alert", alert)) << alert << "\n" << run.out;
    EXPECT_TRUE(HasRecord(run.out, "warning", alert)) << alert;
  }
  for (std::string name : {"plain", "flagged", "blocked", "off", "need", "both", "once"}) {
    EXPECT_EQ(box.Exists("/var/run/quarro/" + name + ".ran"), name == "plain" || name == "flagged") << name;
  }
  // The run-once plugin stays in the run list, never activated; the others
  // that a filter stopped are not listed.
  std::string log = box.ReadFile("/var/log/sysboot.log");
  EXPECT_NE(log.find("[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: once\n"),
            std::string::npos) << log;
  for (const char* unlisted : {"blocked", "off", "need", "both"}) {
    EXPECT_EQ(log.find(std::string("sysboot: ") + unlisted + "\n"), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
