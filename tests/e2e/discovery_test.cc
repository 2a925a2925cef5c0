// Which plugins a run of the installed program starts: discovery, its
// filters and broken descriptors, and the run-once record across runs.
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

TEST(RunOnceEndToEnd, InitRecordsAndInvokeHonoursTheRecord) {
  Sandbox box;
  box.WriteFile("/usr/libexec/bootcrank/plugins/once.json", MarkingDescriptor("once", "", "true", "1.0"));
  RunResult run;
  auto ran = [&](const std::vector<std::string>& args) {  // whether the plugin ran
    box.Remove("/var/run/quarro/once.ran");
    run = box.Run(args);
    EXPECT_EQ(0, run.status) << run.out << run.err;
    return box.Exists("/var/run/quarro/once.ran");
  };
  auto record = [&] {  // as the system's zcat decompresses it
    RunResult z = RunProcess({"/bin/zcat", box.Path("/bootbank/bootcrnk.gz")}, nullptr, 30);
    EXPECT_EQ(0, z.status) << z.err;
    return z.out;
  };
  const char skipped[] = "ignoring plugin 'once' because version '1.0'  has already been run.";
  EXPECT_TRUE(ran({"--init"}));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", record());

  EXPECT_FALSE(ran({"--invoke", "--method=start", "--plugin=once.json"}));
  EXPECT_TRUE(HasRecord(run.out, "info", skipped)) << run.out;
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", record());

  // Invoke adds option keys to what the record held.
  EXPECT_FALSE(ran({"--invoke", "--method=start", "--plugin=once.json", "--run-once=zeta9,alpha"}));
  EXPECT_EQ("bootcrank.run-once=alpha,once1.0,zeta9,\n", record());

  // A plain run does not read the record: it runs the plugin again and
  // rewrites the record with this run's keys only.
  EXPECT_TRUE(ran({}));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", record());
  EXPECT_FALSE(ran({"--run-once=once1.0"}));
  EXPECT_TRUE(HasRecord(run.out, "info", skipped)) << run.out;

  // A damaged record is ignored and rewritten.
  const std::string path = box.Path("/bootbank/bootcrnk.gz"), gzip = "gzip -n -c > '" + path + "' <<'EOF'\n";
  for (const std::string& damage :
       {gzip + "bootcrank.run-once=once1.0,\nEOF\ntruncate -s 12 '" + path + "'",  // truncated
        "{ printf '\\037\\213\\010\\000\\336\\255'; head -c 300 /dev/zero; } > '" + path + "'"}) {  // corrupt
    ASSERT_EQ(0, Shell(damage));
    EXPECT_TRUE(ran({"--invoke", "--method=start", "--plugin=once.json"})) << damage;
    EXPECT_EQ("bootcrank.run-once=once1.0,\n", record()) << damage;
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
