// bootcrank-analyze through its command line: the record it picks, its exit
// statuses and messages, its JSON, and colour only on a terminal.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "support/pty_session.h"

namespace bootcrank {
namespace analyze {
namespace {

using namespace std::string_literals;
using testing::NodeRow;
using testing::Output;
using testing::RecordJson;
using testing::ScratchDir;

const char kLogHead[] =
    "HVKernel Initialization Time: 5000000\n"
    "[2025-12-06 05:46:40.100000 - 2025-12-06 05:46:40.350000] sysboot: ";

// Two boots below the host root: "net" succeeds in 30 ms, then fails after 80 ms.
class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() {
    NodeRow net{"net", {"storage-ready"}, 20, 20, 50, 1};
    for (std::string* file : {&oldRecord, &newRecord}) {
      *file = root.Write("var/log/bootcrank/2026120" + std::string(file == &oldRecord ? "6" : "7") +
                             "T090000.000000Z.json",
                         RecordJson({{"storage", {}, 0, 0, 20, 0}, net},
                                    {{"storage-ready", {"storage"}, 20, 20, 20, 0}}, 2)
                             .dump());
      net.ended = 100;
      net.result = "failed";
    }
    // Not records: a temporary file of a greater name, and a hidden one.
    root.Write("var/log/bootcrank/20261208T000000.000000Z.json.tmp", "{}");
    root.Write("var/log/bootcrank/.20261209T000000.000000Z.json", "{}");
  }
  Output Run(const std::vector<std::string>& args) {
    return testing::Analyze(args, {"BOOTCRANK_ROOT=" + root.path});
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
  // No record directory at all, or one that holds no record.
  ScratchDir empty, noRecord;
  noRecord.Write("var/log/bootcrank/20261208T000000.000000Z.json.tmp", "{}");
  for (const auto& [at, text] : std::vector<std::pair<std::string, std::string>>{
           {empty.path, "no boot record to read ("},
           {noRecord.path, "no boot record in " + noRecord.path + "/var/log/bootcrank; "}}) {
    o = testing::Analyze({"blame"}, {"BOOTCRANK_ROOT=" + at});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(text), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("name a record or profiling log"), std::string::npos) << o.err;
  }
}

TEST_F(CommandLineTest, ExitStatusesAndMessages) {
  const std::string& at = root.path;
  std::string newer = root.Write("bad/newer.json", R"({"schema": 2})");
  std::string log =
      root.Write("sysboot.log", kLogHead + "storage\n=== Bootcrank configuration info ===\n"s +
                                    " Start: 2025-12-06 05:46:40.000000\n");
  const std::string records = at + "/var/log/bootcrank",
                    lacks = "is a profiling log; it lacks dependencies";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;    // found in standard error; "" for none at all
    bool json = false;  // standard output is JSON
  } const cases[] = {
      {{}, 2, "Usage: bootcrank-analyze COMMAND"},
      {{"--help"}, 0, ""},
      {{"frobnicate"}, 2, "bootcrank-analyze: unknown command 'frobnicate'"},
      {{"verify", "--plugin-directory=" + at + "/no"},
       2,
       "verify: cannot check: " + at + "/no: not a plugin"},
      {{"blame", at + "/no.json"},
       2,
       "blame: " + at + "/no.json: cannot open: No such file or directory"},
      {{"blame", at}, 2, "blame: " + at + ": cannot read: Is a directory"},
      {{"blame", "--colour"}, 2, "bootcrank-analyze blame: unknown option '--colour'"},
      {{"blame", "a", "b"}, 2, "bootcrank-analyze blame: unexpected argument 'b'"},
      {{"blame", newer}, 2, "blame: " + newer + ": record schema version 2 is newer"},
      {{"critical-chain", "ghost"}, 2, "critical-chain: no plugin or barrier 'ghost'"},
      {{"what-if", "--workers=0"}, 2, "what-if: --workers: give 1 to 100000 workers"},
      {{"what-if", "--duration=ghost=5"}, 2, "what-if: no plugin \"ghost\""},
      {{"what-if", "--duration=net=fast"}, 2, "what-if: --duration: not a duration"},
      {{"diff", oldRecord}, 2, "bootcrank-analyze diff: missing argument"},
      {{"diff", oldRecord, newRecord}, 1, ""},  // net failed anew
      {{"diff", newRecord, oldRecord}, 0, ""},
      {{"fleet", "--json", records}, 0, "", true},
      {{"blame", "--json"}, 0, "", true},
      {{"critical-chain", "--json", "net"}, 0, "", true},
      {{"plot", "--json"}, 0, "", true},
      {{"report", "--json"}, 0, "", true},
      {{"trace"}, 0, "", true},
      {{"what-if", "--json", "--workers", "3"}, 0, "", true},
      {{"fleet", records, at + "/bad"}, 1, "bootcrank-analyze fleet: skipped "},
      {{"fleet", at + "/bad"}, 2, "bootcrank-analyze fleet: skipped "},
      {{"blame", log}, 0, lacks},
      {{"trace", log}, 0, lacks},
      {{"critical-chain", "--record", log}, 2, "needs a boot record; a profiling log lacks"},
      {{"report", "--output=" + at + "/no/r.html"},
       2,
       "r.html: cannot write: No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Output o = Run(c.args);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_TRUE(c.err.empty() ? o.err.empty() : o.err.find(c.err) != std::string::npos) << o.err;
    EXPECT_TRUE(!c.json || nlohmann::json::accept(o.out)) << o.out;
  }
  Output plot = Run({"plot", "-o", root.path + "/plot.svg"});
  EXPECT_EQ(plot.out, "");
  EXPECT_NE(testing::Slurp(root.path + "/plot.svg").find("</svg>"), std::string::npos);
}

TEST_F(CommandLineTest, DiffAndFleetJsonAndNamesThatAreNotUtf8) {
  nlohmann::json diff = nlohmann::json::parse(Run({"diff", "--json", oldRecord, newRecord}).out);
  EXPECT_EQ(diff["new_failures"][0]["name"], "net");
  EXPECT_EQ(diff["plugins"][0]["change"], 50000);
  nlohmann::json fleet = nlohmann::json::parse(Run({"fleet", "--json", oldRecord, newRecord}).out);
  EXPECT_EQ(fleet["records"], 2);
  EXPECT_EQ(fleet["plugins"][0]["name"], "net");
  EXPECT_EQ(fleet["plugins"][0]["failure_rate"], 0.5);
  // Names come from file names, which need not be UTF-8: such bytes are replaced.
  std::string latin1 =
      root.Write("latin1.log", kLogHead + "caf\xe9\n=== Bootcrank configuration info ===\n"s);
  // Each command writes its JSON with the same replacement.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"blame", "--json", latin1},
                                             {"diff", "--json", latin1, latin1},
                                             {"fleet", "--json", latin1}}) {
    Output json = Run(args);
    EXPECT_EQ(nlohmann::json::parse(json.out)["plugins"][0]["name"], "caf\xef\xbf\xbd") << args[0];
  }
  root.Write("plugins/caf\xe9.json", "{");
  Output verify = Run({"verify", "--json", "--plugin-directory=" + root.path + "/plugins"});
  EXPECT_EQ(nlohmann::json::parse(verify.out)[0]["file"], root.path + "/plugins/caf\xef\xbf\xbd.json");
}

TEST_F(CommandLineTest, ColourOnlyOnATerminalWithoutNoColor) {
  const std::string red = "\033[31mfailed\033[0m";
  EXPECT_EQ(Run({"blame"}).out.find(red), std::string::npos);  // a file
  for (bool noColor : {false, true}) {
    std::vector<std::string> env = {"BOOTCRANK_ROOT=" + root.path, "TERM=xterm"};
    if (noColor) env.push_back("NO_COLOR=1");
    bootcrank::testing::PtySession pty(
        bootcrank::testing::ExecBody(BOOTCRANK_ANALYZE, {BOOTCRANK_ANALYZE, "blame"}, env));
    EXPECT_EQ(pty.Finish(), 0);
    EXPECT_EQ(pty.Output().find(red) == std::string::npos, noColor) << pty.Output();
  }
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
