// The boot script that the systemd unit runs, in a sandbox root: it carries
// the run-once keys from one boot to the next and takes those of the kernel
// command line, and a record it cannot use is a warning, never a failed boot.
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

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
  std::string Record() const {  // as the system's zcat decompresses it
    RunResult z = RunProcess({"/bin/zcat", box_.Path(kRecord)}, nullptr, 30);
    EXPECT_EQ(0, z.status) << z.err;
    return z.out;
  }

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
