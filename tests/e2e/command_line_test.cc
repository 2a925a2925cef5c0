// The installed program's command line: help, option errors and refused
// combinations.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLineE2E, HelpPrintsExactlyTheUsageTextEvenAfterAnInvalidCombination) {
  Sandbox box;
  std::ifstream in(BOOTCRANK_SOURCE_DIR "/tests/runcontrol/usage.txt", std::ios::binary);
  std::string usage((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const Args& args : {Args{"--help"}, Args{"--daemon", "--invoke", "--he"}}) {
    RunResult r = box.Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
  }
  RunResult unknown = box.Run({"--frobnicate", "--help"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("usage: " + box.Program() + " --help for usage information\n"), std::string::npos);
  EXPECT_EQ(unknown.out, "");

  RunResult invoke = box.Run({"--invoke", "--method=start"});
  EXPECT_EQ(invoke.status, 1);
  // The usage text follows the record; the parser folds it into the message.
  EXPECT_EQ(Messages(invoke.out, "error"),
            Args{"invoke requires a method and plugin specified\n" + usage.substr(0, usage.size() - 1)});
  EXPECT_FALSE(box.Exists("/var/run/quarro/bootcrankExecutor.sock")) << "no executor was started";
}

TEST(CommandLineE2E, InvalidDaemonCombinationsRunNothing) {
  Sandbox box;
  box.WriteFile("/bin/chkconfig", "#!/bin/sh\ntouch " + box.Path("/listed") + "\n", 0755);
  for (const Args& args : {Args{"--daemon", "--method=restart"}, Args{"--daemon"},
                           Args{"--daemon=wait", "--method=start", "--plugin=x"},
                           Args{"--daemon", "--method=stop", "--interactive"},
                           Args{"--daemon", "--method=start", "--invoke"}}) {
    RunResult r = box.Run(args);
    EXPECT_EQ(r.status, 1) << args.back();
    EXPECT_EQ(ParseLogRecords(r.out).size(), 1u) << r.out;
    EXPECT_TRUE(HasRecord(r.out, "error", "Invalid combination of options passed. Exiting"));
  }
  EXPECT_FALSE(box.Exists("/listed")) << "the init scripts must not even be listed";
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
