// The run-once record across runs of the installed program, and damaged records.
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

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
