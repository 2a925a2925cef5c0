// Which plugins a run of the installed program starts: discovery, its
// filters, broken descriptors and cycles, and the run-once record, also as
// the boot script that the systemd unit runs carries it from boot to boot.
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
  // The flag messages' texts are checked by the unit tests of discovery.
  for (const char* message : {"ignoring plugin 'README' of unspecified type...",
                              "ignoring plugin 'notes.txt' of unknown type (txt)..."}) {
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
  auto record = [&] { return Unzipped(box, "/bootbank/bootcrnk.gz"); };
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
  // A truncated or corrupt record is ignored and rewritten.
  const std::string path = box.Path("/bootbank/bootcrnk.gz"), gzip = "gzip -n -c > '" + path + "' <<'EOF'\n";
  for (const std::string& damage :
       {gzip + "bootcrank.run-once=once1.0,\nEOF\ntruncate -s 12 '" + path + "'",
        "{ printf '\\037\\213\\010\\000\\336\\255'; head -c 300 /dev/zero; } > '" + path + "'"}) {
    ASSERT_EQ(0, Shell(damage));
    EXPECT_TRUE(ran({"--invoke", "--method=start", "--plugin=once.json"})) << damage;
    EXPECT_EQ("bootcrank.run-once=once1.0,\n", record()) << damage;
  }
}

TEST(DiscoveryEndToEnd, CyclesOfSeveralLengthsAreEachReportedAndTheRunEnds) {
  Sandbox box;
  const std::vector<int> lengths = {1, 2, 3, 1000};
  int plugins = 0;
  // c<n>_<i> requires r<n>_<i> and provides r<n>_<i+1 mod n>.
  for (int n : lengths) {
    for (int i = 0; i < n; ++i, ++plugins) {
      std::string prefix = "r" + std::to_string(n) + "_";
      box.WriteFile("/usr/libexec/bootcrank/plugins/c" + std::to_string(n) + "_" + std::to_string(i) + ".json",
                    Descriptor("\"" + prefix + std::to_string(i) + "\"",
                               "\"" + prefix + std::to_string((i + 1) % n) + "\"", ""));
    }
  }
  RunResult run = box.Run({"--parallel"}, 300);
  ASSERT_EQ(0, run.status) << run.err << run.out.substr(0, 4000);
  EXPECT_EQ(4, CountRecords(run.out, "warning", "Bootcrank dependency error: dependency cycle "))
      << run.out.substr(0, 4000);
  EXPECT_EQ(4, CountRecords(run.out, "alert", "Bootcrank dependency error: dependency cycle "));
  EXPECT_EQ(std::make_pair(plugins, 0), PluginLines(box.ReadFile("/var/log/sysboot.log")));
  EXPECT_EQ("", Leftovers(box));
}

const char kRecord[] = "/bootbank/bootcrnk.gz";

class BootScriptE2E : public ::testing::Test {
 protected:
  void SetUp() override { Version("1.0"); }
  // The run-once plugin "once" at `version`.
  void Version(const std::string& version) {
    box_.WriteFile("/usr/libexec/bootcrank/plugins/once.json", MarkingDescriptor("once", "", "true", version));
  }
  // Boots the sandbox as the unit does; whether the plugin ran.
  bool Boot() {
    box_.Remove("/var/run/quarro/once.ran");
    std::vector<std::string> env = box_.Environment();
    run_ = RunProcess({box_.Path("/usr/lib/quarro/bootcrank/boot"), "--init", "--parallel"}, &env, 60);
    EXPECT_EQ(0, run_.status) << run_.out << run_.err;
    return box_.Exists("/var/run/quarro/once.ran");
  }
  std::string Record() const { return Unzipped(box_, kRecord); }

  Sandbox box_;
  RunResult run_;
};

TEST_F(BootScriptE2E, ThreeBootsRunARunOncePluginOnceAndANewVersionOnceMore) {
  EXPECT_TRUE(Boot());
  EXPECT_EQ("bootcrank-boot: warning: no run-once record " + box_.Path(kRecord) +
                " (first boot?): no run-once keys from it\n",
            run_.err);
  EXPECT_FALSE(Boot());
  EXPECT_FALSE(Boot());
  EXPECT_EQ("", run_.err);
  EXPECT_TRUE(HasRecord(run_.out, "info", "ignoring plugin 'once' because version '1.0'  has already been run."))
      << run_.out;
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", Record());

  Version("2.0");
  EXPECT_TRUE(Boot());
  EXPECT_FALSE(Boot());
  EXPECT_EQ("bootcrank.run-once=once1.0,once2.0,\n", Record());
}

struct RecordCase {
  const char* what;
  std::string record;   // shell command run with $R the root; "" leaves no record
  std::string cmdline;  // /proc/cmdline; "" leaves none
  bool runs;
  std::string warning;  // the end of the one warning line; "" for none
  std::string after;    // the record after the boot; "" when bootcrank keeps what it found
};

TEST_F(BootScriptE2E, RecordsAndKernelOptionsAsTheBootFindsThem) {
  const std::string gzip = " | gzip -n > $R/bootbank/bootcrnk.gz";
  const std::string mine = "bootcrank.run-once=once1.0,\n", none = "bootcrank.run-once=\n";
  const RecordCase cases[] = {
      {"missing", "", "", true, " (first boot?): no run-once keys from it", mine},
      {"empty", ": > $R/bootbank/bootcrnk.gz", "", true, " is empty: no run-once keys from it", mine},
      {"plain text", "echo bootcrank.run-once=once1.0, > $R/bootbank/bootcrnk.gz", "", true,
       " is not intact gzip data: no run-once keys from it", mine},
      {"truncated", "printf 'bootcrank.run-once=once1.0,\\n'" + gzip + "; truncate -s 30 $R/bootbank/bootcrnk.gz", "",
       true, " is not intact gzip data: no run-once keys from it", mine},
      {"another prefix", "printf 'bootcrank.run-twice=once1.0,\\n'" + gzip, "", true,
       " does not start with bootcrank.run-once=: no run-once keys from it", mine},
      {"a FIFO", "mkfifo $R/bootbank/bootcrnk.gz", "", true, " is not a regular file: no run-once keys from it", ""},
      {"blanks and empty pieces", "printf 'bootcrank.run-once= once1.0 ,,\\t,\\n old2 ,'" + gzip, "", false, "",
       "bootcrank.run-once=old2,once1.0,\n"},
      {"the empty set", "printf '" + none + "'" + gzip, "", true, "", mine},
      {"a kernel option", "printf '" + none + "'" + gzip, "BOOT_IMAGE=/vmlinuz bootcrank.run-once=k2,once1.0 ro\n",
       false, "", "bootcrank.run-once=k2,once1.0,\n"},
      {"quoted kernel options, and a record", "printf 'bootcrank.run-once=r1,\\n'" + gzip,
       "quiet bootcrank.run-once=\"x y, once1.0,\"\tbootcrank.run-once=,z\n", false, "",
       "bootcrank.run-once=once1.0,r1,x y,z,\n"},
      {"look-alike kernel options", "printf '" + none + "'" + gzip,
       "xbootcrank.run-once=once1.0 bootcrank.run-once2=once1.0 bootcrank.run-once\n", true, "", mine},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    box_.Remove(kRecord);
    box_.Remove("/proc");
    if (!c.record.empty()) {
      ASSERT_EQ(0, Shell("R='" + box_.Root() + "'; " + c.record));
    }
    if (!c.cmdline.empty()) box_.WriteFile("/proc/cmdline", c.cmdline);
    EXPECT_EQ(c.runs, Boot());
    if (c.warning.empty()) {
      EXPECT_EQ("", run_.err);
    } else {
      EXPECT_EQ(0u, run_.err.rfind("bootcrank-boot: warning: ", 0)) << run_.err;
      EXPECT_EQ(1, std::count(run_.err.begin(), run_.err.end(), '\n')) << run_.err;
      EXPECT_NE(std::string::npos, run_.err.find(box_.Path(kRecord) + c.warning + "\n")) << run_.err;
    }
    if (!c.after.empty()) {
      EXPECT_EQ(c.after, Record());
    }
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
