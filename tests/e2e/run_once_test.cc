// The run-once record across runs of the installed program.
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

const char kRecord[] = "/bootbank/bootcrnk.gz";
const char kSkipped[] = "ignoring plugin 'once' because version '1.0'  has already been run.";

class RunOnceEndToEnd : public ::testing::Test {
 protected:
  RunOnceEndToEnd() {
    box_.WriteFile("/usr/libexec/bootcrank/plugins/once.json",
                   "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [],"
                   " \"run_once\": true, \"plugin_version\": \"1.0\"},"
                   " \"operations\": {\"start\": [\"file write"
                   " --path=/var/run/quarro/once.ran --content=ran\"]}}");
  }

  // The record as the system's zcat decompresses it.
  std::string Record() const {
    RunResult result = RunProcess({"/bin/zcat", box_.Path(kRecord)}, nullptr, 30);
    EXPECT_EQ(0, result.status) << result.err;
    return result.out;
  }
  // Runs the program; true when the run-once plugin ran (its marker is new).
  bool RunAndSeeIfItRan(const std::vector<std::string>& args, RunResult* result = nullptr) {
    box_.Remove("/var/run/quarro/once.ran");
    RunResult run = box_.Run(args);
    EXPECT_EQ(0, run.status) << run.out << run.err;
    if (result != nullptr) *result = run;
    return box_.Exists("/var/run/quarro/once.ran");
  }
  static bool Skipped(const RunResult& run) {
    Names infos = Messages(run.out, "info");
    return std::find(infos.begin(), infos.end(), kSkipped) != infos.end();
  }

  Sandbox box_;
};

TEST_F(RunOnceEndToEnd, InitRecordsAndInvokeHonoursTheRecord) {
  RunResult run;
  EXPECT_TRUE(RunAndSeeIfItRan({"--init"}, &run));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", Record());

  // Invoke reads the record: the version has run.
  EXPECT_FALSE(RunAndSeeIfItRan({"--invoke", "--method=start", "--plugin=once.json"}, &run));
  EXPECT_TRUE(Skipped(run)) << run.out;
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", Record());

  // Invoke adds option keys to what the record held.
  EXPECT_FALSE(RunAndSeeIfItRan(
      {"--invoke", "--method=start", "--plugin=once.json", "--run-once=zeta9,alpha"}));
  EXPECT_EQ("bootcrank.run-once=alpha,once1.0,zeta9,\n", Record());

  // A plain run does not read the record: it runs the plugin again and
  // rewrites the record with this run's keys only.
  EXPECT_TRUE(RunAndSeeIfItRan({}));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", Record());

  // Keys to keep come back through the option.
  EXPECT_FALSE(RunAndSeeIfItRan({"--run-once=once1.0"}, &run));
  EXPECT_TRUE(Skipped(run)) << run.out;
}

TEST_F(RunOnceEndToEnd, InvokeReadsARecordWrittenByGzip) {
  box_.WriteFile("/bootbank/bootcrnk", "bootcrank.run-once= other ,, once1.0 \n");
  ASSERT_EQ(0, Shell("gzip -n '" + box_.Path("/bootbank/bootcrnk") + "'"));
  RunResult run;
  EXPECT_FALSE(RunAndSeeIfItRan({"--invoke", "--method=start", "--plugin=once.json"}, &run));
  EXPECT_TRUE(Skipped(run)) << run.out;
  EXPECT_EQ("bootcrank.run-once=once1.0,other,\n", Record());
}

TEST_F(RunOnceEndToEnd, UnusableRecordsDoNotStopTheRun) {
  // Not gzip: invoke adds nothing and runs the plugin; the record is rewritten.
  box_.WriteFile(kRecord, "bootcrank.run-once=once1.0,\n");
  EXPECT_TRUE(RunAndSeeIfItRan({"--invoke", "--method=start", "--plugin=once.json"}));
  EXPECT_EQ("bootcrank.run-once=once1.0,\n", Record());

  // No boot bank: a warning, and the run's own status.
  box_.Remove("/bootbank");
  RunResult run;
  EXPECT_TRUE(RunAndSeeIfItRan({}, &run));
  Names warnings = Messages(run.out, "warning");
  std::string expected = "unable to write run-once record (" + box_.Path(kRecord) +
                         "): No such file or directory.";
  EXPECT_NE(warnings.end(), std::find(warnings.begin(), warnings.end(), expected)) << run.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
