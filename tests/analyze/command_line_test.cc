// bootcrank-analyze through its command line: the record it picks, its exit
// statuses, its JSON, and colour only on a terminal.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "run_program.h"
#include "support/pty_session.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::Output;
using testing::RecordJson;
using testing::ScratchDir;
using testing::NodeRow;

// A host root holding two boots: the older one has "net" succeed in 30 ms,
// the newer one has it fail after 80 ms.
class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() {
    NodeRow net{"net", {"storage-ready"}, 20, 20, 50, 1};
    oldRecord = root.Write("var/log/bootcrank/20261206T090000.000000Z.json",
                           RecordJson({{"storage", {}, 0, 0, 20, 0}, net}, {{"storage-ready", {"storage"}, 20, 20, 20, 0}}, 2).dump());
    net.ended = 100;
    net.result = "failed";
    newRecord = root.Write("var/log/bootcrank/20261207T090000.000000Z.json",
                           RecordJson({{"storage", {}, 0, 0, 20, 0}, net}, {{"storage-ready", {"storage"}, 20, 20, 20, 0}}, 2).dump());
  }

  Output Run(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), BOOTCRANK_ANALYZE);
    env.push_back("BOOTCRANK_ROOT=" + root.path);
    return testing::RunProgram(args, env);
  }

  ScratchDir root;
  std::string oldRecord, newRecord;
};

TEST_F(CommandLineTest, BlameReadsTheNewestRecordByDefault) {
  Output o = Run({"blame"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out,
            "DURATION  RESULT     KIND  PLUGIN\n"
            "  80.0ms  failed     json  net\n"
            "  20.0ms  succeeded  json  storage\n");
  EXPECT_EQ(o.err, "");
}

TEST_F(CommandLineTest, ExitStatuses) {
  root.Write("bad/newer.json", R"({"schema": 2})");
  root.Write("bad/garbage.json", "{\"schema\": 1,");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;  // the start of standard error; "" for none
  };
  const Case cases[] = {
      {{}, 2, "Usage: bootcrank-analyze COMMAND"},
      {{"--help"}, 0, ""},
      {{"frobnicate"}, 2, "bootcrank-analyze: unknown command 'frobnicate'"},
      {{"verify"}, 2, "bootcrank-analyze verify: cannot check: "},  // no plugin directory in the root
      {{"blame", "--colour"}, 2, "bootcrank-analyze blame: unknown option '--colour'"},
      {{"blame", "a", "b"}, 2, "bootcrank-analyze blame: unexpected argument 'b'"},
      {{"blame", root.path + "/bad/newer.json"}, 2,
       "bootcrank-analyze blame: /"},  // ...: record schema version 2 is newer
      {{"blame", root.path + "/bad/garbage.json"}, 2, "bootcrank-analyze blame: /"},
      {{"blame", root.path + "/none.json"}, 2, "bootcrank-analyze blame: /"},
      {{"critical-chain", "ghost"}, 2, "bootcrank-analyze critical-chain: no plugin or barrier 'ghost'"},
      {{"what-if", "--workers=0"}, 2, "bootcrank-analyze what-if: --workers: give 1 to 100000 workers"},
      {{"what-if", "--duration=ghost=5"}, 2, "bootcrank-analyze what-if: no plugin \"ghost\""},
      {{"what-if", "--duration=net=fast"}, 2, "bootcrank-analyze what-if: --duration: not a duration"},
      {{"diff", oldRecord}, 2, "bootcrank-analyze diff: missing argument"},
      {{"diff", oldRecord, newRecord}, 1, ""},  // net failed anew
      {{"diff", newRecord, oldRecord}, 0, ""},
      {{"fleet", root.path + "/var/log/bootcrank"}, 0, ""},
      {{"fleet", root.path + "/var/log/bootcrank", root.path + "/bad"}, 1, "bootcrank-analyze fleet: skipped "},
      {{"fleet", root.path + "/bad"}, 2, "bootcrank-analyze fleet: skipped "},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    Output o = Run(c.args);
    EXPECT_EQ(o.status, c.status) << o.err;
    if (c.err[0] == '\0') EXPECT_EQ(o.err, "");
    else EXPECT_EQ(o.err.rfind(c.err, 0), 0u) << o.err;
  }
  EXPECT_NE(Run({"blame", root.path + "/bad/newer.json"}).err.find("schema version 2 is newer"), std::string::npos);
}

TEST_F(CommandLineTest, NoRecordAtAllIsAUsageError) {
  ScratchDir empty;
  Output o = testing::RunProgram({BOOTCRANK_ANALYZE, "blame"}, {"BOOTCRANK_ROOT=" + empty.path});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("name a record or profiling log"), std::string::npos) << o.err;
}

TEST_F(CommandLineTest, EveryCommandWritesJsonThatParses) {
  const std::vector<std::vector<std::string>> commands = {
      {"blame", "--json"}, {"critical-chain", "--json"}, {"critical-chain", "--json", "net"}, {"plot", "--json"},
      {"report", "--json"}, {"trace"}, {"what-if", "--json", "--workers", "3"},
      {"diff", "--json", oldRecord, newRecord}, {"fleet", "--json", root.path + "/var/log/bootcrank"}};
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    Output o = Run(args);
    EXPECT_LE(o.status, 1) << o.err;
    EXPECT_TRUE(nlohmann::json::accept(o.out)) << o.out;
  }
  nlohmann::json chain = nlohmann::json::parse(Run({"critical-chain", "--json"}).out);
  ASSERT_EQ(chain["links"].size(), 3u);
  EXPECT_EQ(chain["links"][2]["name"], "net");
  EXPECT_EQ(chain["links"][2]["run"], 80000);
  nlohmann::json diff = nlohmann::json::parse(Run({"diff", "--json", oldRecord, newRecord}).out);
  EXPECT_EQ(diff["new_failures"][0]["name"], "net");
  EXPECT_EQ(diff["plugins"][0]["change"], 50000);
  nlohmann::json fleet = nlohmann::json::parse(Run({"fleet", "--json", oldRecord, newRecord}).out);
  EXPECT_EQ(fleet["records"], 2);
  EXPECT_EQ(fleet["plugins"][0]["name"], "net");
  EXPECT_EQ(fleet["plugins"][0]["failure_rate"], 0.5);
}

TEST_F(CommandLineTest, ProfilingLogsAreReadAndWhatTheyLackIsSaid) {
  std::string log = root.Write("var/log/sysboot.log",
                               "HVKernel Initialization Time: 5000000\n"
                               "[2025-12-06 05:46:40.100000 - 2025-12-06 05:46:40.350000] sysboot: storage\n"
                               "=== Bootcrank configuration info ===\n"
                               " Start: 2025-12-06 05:46:40.000000\n End: 2025-12-06 05:46:40.400000\n");
  for (const char* command : {"blame", "plot", "trace"}) {
    SCOPED_TRACE(command);
    Output o = Run({command, log});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("is a profiling log; it lacks dependencies"), std::string::npos) << o.err;
  }
  // Names come from file names, which need not be UTF-8: JSON output
  // replaces such bytes rather than failing.
  std::string latin1 = root.Write("var/log/latin1.log",
                                  "HVKernel Initialization Time: 5000000\n"
                                  "[2025-12-06 05:46:40.100000 - 2025-12-06 05:46:40.350000] sysboot: caf\xe9\n"
                                  "=== Bootcrank configuration info ===\n");
  Output json = Run({"blame", "--json", latin1});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out)["plugins"][0]["name"], "caf\xef\xbf\xbd");
  Output chain = Run({"critical-chain", "--record", log});
  EXPECT_EQ(chain.status, 2);
  EXPECT_NE(chain.err.find("critical-chain needs a boot record; a profiling log lacks dependencies"), std::string::npos)
      << chain.err;
}

TEST_F(CommandLineTest, OutputFilesAndTheirErrors) {
  Output o = Run({"plot", "-o", root.path + "/plot.svg"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "");
  EXPECT_NE(testing::Slurp(root.path + "/plot.svg").find("</svg>"), std::string::npos);
  Output bad = Run({"report", "--output=" + root.path + "/no/such/dir/r.html"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("r.html: cannot write: No such file or directory"), std::string::npos) << bad.err;
}

// Colour on a terminal only, and never with NO_COLOR.
TEST_F(CommandLineTest, ColourOnlyOnATerminalWithoutNoColor) {
  const std::string red = "\033[31mfailed\033[0m";
  EXPECT_EQ(Run({"blame"}).out.find(red), std::string::npos);  // a file
  struct Case {
    std::string noColor;
    bool colour;
  };
  for (const Case& c : {Case{"", true}, Case{"NO_COLOR=1", false}}) {
    std::vector<std::string> env = {"BOOTCRANK_ROOT=" + root.path, "TERM=xterm"};
    if (!c.noColor.empty()) env.push_back(c.noColor);
    bootcrank::testing::PtySession pty(bootcrank::testing::ExecBody(BOOTCRANK_ANALYZE, {BOOTCRANK_ANALYZE, "blame"}, env));
    EXPECT_EQ(pty.Finish(), 0);
    EXPECT_EQ(pty.Output().find(red) != std::string::npos, c.colour) << c.noColor << ": " << pty.Output();
    EXPECT_NE(pty.Output().find("storage"), std::string::npos);
  }
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
