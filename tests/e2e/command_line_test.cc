// The installed program's command line: help, option errors, combination
// refusals and the shape of its log on standard output.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

using testing::ParseLogRecords;
using testing::RunResult;
using testing::Sandbox;

std::string UsageText() {
  std::ifstream in(BOOTCRANK_SOURCE_DIR "/tests/runcontrol/usage.txt", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CommandLineE2E, HelpPrintsExactlyTheUsageTextEvenAfterAnInvalidCombination) {
  Sandbox box;
  for (auto args : {std::vector<std::string>{"--help"},
                    std::vector<std::string>{"-h"},
                    std::vector<std::string>{"--daemon", "--invoke", "--he"}}) {
    RunResult r = box.Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, UsageText());
    EXPECT_EQ(r.err, "");
  }
  // Help ends the run before anything else: no executor was started.
  EXPECT_FALSE(box.Exists("/var/run/quarro/bootcrankExecutor.sock"));
}

TEST(CommandLineE2E, OptionErrorsPrintTheDiagnosticAndTheUsageLine) {
  Sandbox box;
  RunResult unknown = box.Run({"--frobnicate", "--help"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("frobnicate"), std::string::npos);  // getopt's own text
  EXPECT_NE(unknown.err.find("usage: " + box.Program() + " --help for usage information\n"),
            std::string::npos);
  EXPECT_EQ(unknown.out, "");

  RunResult missing = box.Run({"--method"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("usage: "), std::string::npos);

  RunResult ambiguous = box.Run({"--dae"});  // --daemon or --daemon-wait-timeout
  EXPECT_EQ(ambiguous.status, 1);
}

TEST(CommandLineE2E, InvalidCombinationsAreRefusedWithTheirMessages) {
  Sandbox box;
  for (auto args : {std::vector<std::string>{"--daemon", "--method=restart"},
                    std::vector<std::string>{"--daemon", "--method=start", "--plugin=x"},
                    std::vector<std::string>{"--daemon"},
                    std::vector<std::string>{"--daemon=wait", "--method=stop", "--init"}}) {
    RunResult r = box.Run(args);
    EXPECT_EQ(r.status, 1);
    auto records = ParseLogRecords(r.out);
    ASSERT_EQ(records.size(), 1u) << r.out;
    EXPECT_EQ(records[0].tag, "error");
    EXPECT_EQ(records[0].message, "Invalid combination of options passed. Exiting");
  }
  RunResult invoke = box.Run({"--invoke", "--method=start"});
  EXPECT_EQ(invoke.status, 1);
  auto records = ParseLogRecords(invoke.out);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].tag, "error");
  // The usage text follows the record; the parser folds it into the message.
  EXPECT_EQ(records[0].message,
            "invoke requires a method and plugin specified\n" +
                UsageText().substr(0, UsageText().size() - 1));
  EXPECT_FALSE(box.Exists("/var/run/quarro/bootcrankExecutor.sock"));
}

TEST(CommandLineE2E, HostileArgumentsNeverCrashTheProgram) {
  Sandbox box;
  std::string huge(100000, 'x');
  for (auto args : {std::vector<std::string>{"--plugin=" + huge, "--invoke"},
                    std::vector<std::string>{"--randomize=" + huge, "--dump-dependency-tree=/dev/null"},
                    std::vector<std::string>{"--daemon-wait-timeout=-1", "--daemon", "--method=x"},
                    std::vector<std::string>{"--plugin-flags=,,,", "--run-once=,", "--dump-dependency-tree=/dev/null"},
                    std::vector<std::string>{"--", "-h"},
                    std::vector<std::string>{"stray", "words", "--dump-dependency-tree=/dev/null"}}) {
    RunResult r = box.Run(args);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << " " << r.err;
  }
}

}  // namespace
}  // namespace bootcrank
