// Which plugins a run starts: filters, broken descriptors, cycles and the
// run-once record, also as the unit's boot script carries it between boots.
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

const char kRecord[] = "/bootbank/bootcrnk.gz";

TEST(DiscoveryEndToEnd, EveryFilterStopsItsPluginsAndBrokenDescriptorsAlert) {
  Sandbox box;
  for (const char* name : {"plain", "blocked"})
    box.WritePlugin(name + std::string(".json"), MarkingDescriptor(name));
  box.WritePlugin("off.json", MarkingDescriptor("off", ", \"disabling_flags\": [\"x\"]"));
  box.WritePlugin("need.json", MarkingDescriptor("need", ", \"required_flags\": [\"a\", \"b\"]"));
  box.WritePlugin(
      "both.json",
      MarkingDescriptor("both", ", \"disabling_flags\": [\"x\"], \"required_flags\": [\"c\"]"));
  box.WritePlugin("flagged.json", MarkingDescriptor("flagged", ", \"required_flags\": [\"a\"]"));
  box.WritePlugin("once.json", MarkingDescriptor("once", "", "true", "2.1"));
  box.WritePlugin("README", "");
  box.WritePlugin("notes.txt", "");
  box.WritePlugin("garbage.json", "this is not json");
  box.WritePlugin("nometa.json", "{\"operations\": {\"start\": []}}");
  RunResult run = RunExpecting(
      box, {"--plugin-flags=x,a", "--disable-plugins=blocked,notes.txt", "--run-once=once2.1"});
  // The flag messages' texts are checked by the unit tests of discovery.
  const std::string dir = box.PluginDir() + "/";
  const std::pair<const char*, std::string> records[] = {
      {"warning", "ignoring plugin 'README' of unspecified type..."},
      {"warning", "ignoring plugin 'notes.txt' of unknown type (txt)..."},
      {"info", "ignoring plugin 'blocked' due to blacklist."},
      {"info", "ignoring plugin 'once' because version '2.1'  has already been run."},
      {"alert", "exception occurred whilst loading plugin garbage.json: plugin `" + dir +
                    "garbage.json' is invalid: plugin root is not an object"},
      {"alert", "exception occurred whilst loading plugin nometa.json: plugin `" + dir +
                    "nometa.json' is invalid: invalid metadata interface"}};
  for (const auto& [tag, message] : records) {
    EXPECT_TRUE(HasRecord(run.out, tag, message)) << message << "\n" << run.out;
    EXPECT_TRUE(tag != std::string("alert") || HasRecord(run.out, "warning", message)) << message;
  }
  for (std::string name : {"plain", "flagged", "blocked", "off", "need", "both", "once"}) {
    EXPECT_EQ(box.Exists("/var/run/quarro/" + name + ".ran"), name == "plain" || name == "flagged")
        << name;
  }
  // The run-once plugin stays in the run list, never activated; the others
  // that a filter stopped are not listed.
  std::string log = box.ReadFile("/var/log/sysboot.log");
  EXPECT_NE(log.find("[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: once\n"),
            std::string::npos)
      << log;
  for (const char* unlisted : {"blocked", "off", "need", "both"}) {
    EXPECT_EQ(log.find(std::string("sysboot: ") + unlisted + "\n"), std::string::npos) << log;
  }
}

TEST(RunOnceEndToEnd, InitRecordsAndInvokeHonoursTheRecord) {
  Sandbox box;
  box.WritePlugin("once.json", MarkingDescriptor("once", "", "true", "1.0"));
  RunResult run;
  auto ran = [&](const std::vector<std::string>& args) {  // whether the plugin ran
    box.Remove("/var/run/quarro/once.ran");
    run = RunExpecting(box, args);
    return box.Exists("/var/run/quarro/once.ran");
  };
  auto record = [&] { return Unzipped(box, kRecord); };
  const std::vector<std::string> invoke = {"--invoke", "--method=start", "--plugin=once.json"};
  EXPECT_TRUE(ran({"--init"}));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", record());
  EXPECT_FALSE(ran(invoke));
  EXPECT_TRUE(HasRecord(run.out, "info",
                        "ignoring plugin 'once' because version '1.0'  has already been run."));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", record());
  // Invoke adds option keys to what the record held.
  EXPECT_FALSE(ran({"--invoke", "--method=start", "--plugin=once.json", "--run-once=zeta9,alpha"}));
  EXPECT_EQ("bootcrank.run-once=alpha,once1.0,zeta9,\n", record());
  // A plain run does not read the record: it runs the plugin again and
  // rewrites the record with this run's keys only.
  EXPECT_TRUE(ran({}));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", record());
  EXPECT_FALSE(ran({"--run-once=once1.0"}));
  // A truncated or corrupt record is ignored and rewritten.
  const std::string path = box.Path(kRecord);
  for (const std::string& damage :
       {"printf 'bootcrank.run-once=once1.0,\\n' | gzip -n > '" + path + "'; truncate -s 12 '" +
            path + "'",
        "{ printf '\\037\\213\\010\\000\\336\\255'; head -c 300 /dev/zero; } > '" + path + "'"}) {
    ASSERT_EQ(0, Shell(damage));
    EXPECT_TRUE(ran(invoke)) << damage;
    EXPECT_EQ("bootcrank.run-once=once1.0,\n", record()) << damage;
  }
}

TEST(DiscoveryEndToEnd, CyclesOfSeveralLengthsAreEachReportedAndTheRunEnds) {
  Sandbox box;
  int plugins = 0;
  for (int n : {1, 2, 3, 1000}) {  // c<n>_<i> requires r<n>_<i> and provides r<n>_<i+1 mod n>
    for (int i = 0; i < n; ++i, ++plugins) {
      std::string prefix = "\"r" + std::to_string(n) + "_";
      box.WritePlugin("c" + std::to_string(n) + "_" + std::to_string(i) + ".json",
                      Descriptor(prefix + std::to_string(i) + "\"",
                                 prefix + std::to_string((i + 1) % n) + "\"", ""));
    }
  }
  RunResult run = RunExpecting(box, {"--parallel"}, 0, 300);
  for (const char* tag : {"warning", "alert"}) {
    EXPECT_EQ(4, CountRecords(run.out, tag, "Bootcrank dependency error: dependency cycle "))
        << tag;
  }
  EXPECT_EQ(std::make_pair(plugins, 0), PluginLines(box.ReadFile("/var/log/sysboot.log")));
  EXPECT_EQ("", Leftovers(box));
}

class BootScriptE2E : public ::testing::Test {
 protected:
  void SetUp() override { Version("1.0"); }
  void Version(const std::string& version) {  // the run-once plugin "once" at `version`
    box_.WritePlugin("once.json", MarkingDescriptor("once", "", "true", version));
  }
  bool Boot() {  // boots the sandbox as the unit does; whether the plugin ran
    box_.Remove("/var/run/quarro/once.ran");
    std::vector<std::string> env = box_.Environment();
    run_ =
        RunProcess({box_.Path("/usr/lib/quarro/bootcrank/boot"), "--init", "--parallel"}, &env, 60);
    EXPECT_EQ(0, run_.status) << run_.out << run_.err;
    return box_.Exists("/var/run/quarro/once.ran");
  }
  std::string Record() const { return Unzipped(box_, kRecord); }
  Sandbox box_;
  RunResult run_;
};

// The first boot's warning is checked by the table's "missing" row.
TEST_F(BootScriptE2E, ThreeBootsRunARunOncePluginOnceAndANewVersionOnceMore) {
  EXPECT_TRUE(Boot());
  EXPECT_FALSE(Boot());
  EXPECT_FALSE(Boot());
  EXPECT_EQ("", run_.err);
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", Record());
  Version("2.0");
  EXPECT_TRUE(Boot());
  EXPECT_FALSE(Boot());
  EXPECT_EQ("bootcrank.run-once=once1.0,once2.0,\n", Record());
}

TEST_F(BootScriptE2E, RecordsAndKernelOptionsAsTheBootFindsThem) {
  const std::string gzip = " | gzip -n > $R", mine = "bootcrank.run-once=once1.0,\n";
  const std::string none = "printf 'bootcrank.run-once=\\n'" + gzip, rec = "run-once record @";
  struct {
    const char* what;
    std::string record;   // shell command run with $R the record; "" leaves no record
    std::string cmdline;  // /proc/cmdline; "" leaves none
    bool runs;
    std::string warning;  // the one warning, "@" standing for the record; "" for none
    std::string after;    // the record after the boot; "" when bootcrank keeps what it found
  } const cases[] = {
      {"missing", "", "", true, "no " + rec + " (first boot?)", mine},
      {"empty", ": > $R", "", true, rec + " is empty", mine},
      {"plain text", "echo bootcrank.run-once=once1.0, > $R", "", true,
       rec + " is not intact gzip data", mine},
      {"truncated", "printf 'bootcrank.run-once=once1.0,\\n'" + gzip + "; truncate -s 30 $R", "",
       true, rec + " is not intact gzip data", mine},
      {"another prefix", "printf 'bootcrank.run-twice=once1.0,\\n'" + gzip, "", true,
       rec + " does not start with bootcrank.run-once=", mine},
      {"a FIFO", "mkfifo $R", "", true, rec + " is not a regular file", ""},
      {"blanks and empty pieces", "printf 'bootcrank.run-once= once1.0 ,,\\t,\\n old2 ,'" + gzip,
       "", false, "", "bootcrank.run-once=old2,once1.0,\n"},
      {"the empty set", none, "", true, "", mine},
      {"a kernel option", none, "BOOT_IMAGE=/vmlinuz bootcrank.run-once=k2,once1.0 ro\n", false, "",
       "bootcrank.run-once=k2,once1.0,\n"},
      {"quoted kernel options, and a record", "printf 'bootcrank.run-once=r1,\\n'" + gzip,
       "quiet bootcrank.run-once=\"x y, once1.0,\"\tbootcrank.run-once=,z\n", false, "",
       "bootcrank.run-once=once1.0,r1,x y,z,\n"},
      {"look-alike kernel options", none,
       "xbootcrank.run-once=once1.0 bootcrank.run-once2=once1.0 bootcrank.run-once\n", true, "",
       mine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    box_.Remove(kRecord);
    box_.Remove("/proc");
    ASSERT_EQ(0, c.record.empty() ? 0 : Shell("R='" + box_.Path(kRecord) + "'; " + c.record));
    if (!c.cmdline.empty()) box_.WriteFile("/proc/cmdline", c.cmdline);
    EXPECT_EQ(c.runs, Boot());
    std::string warning = c.warning;
    if (!warning.empty()) {
      warning =
          "bootcrank-boot: warning: " + warning.replace(warning.find('@'), 1, box_.Path(kRecord)) +
          ": no run-once keys from it\n";
    }
    EXPECT_EQ(warning, run_.err);
    EXPECT_TRUE(c.after.empty() || c.after == Record()) << Record();
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
