// The installed program's command line (help, option errors, refused
// combinations) and what a run leaves besides its plugins' work: the
// profiling log, compared whole with the run's times masked, and the dump
// mode's graph in the dot language, to a file or to standard output.
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

const char kLog[] = "/var/log/sysboot.log";

std::string Settings(const char* verbose, const char* seed) {
  return std::string(" Verbose: ") + verbose + "\n Parallel: 0\n Randomize: 1\n"
         " Interactive Mode: 0\n Random Seed: " + seed + "\n";
}

TEST(ProfilingLogEndToEnd, BootAndDumpRunsRewriteTheLog) {
  Sandbox box;
  const std::string head = "HVKernel Initialization Time: <U>\n";
  const std::string config = "=== Bootcrank configuration info ===\n Start: <T>\n End: <T>\n";
  box.WriteFile(kLog, "an old log\n");
  box.WriteFile("/usr/libexec/bootcrank/plugins/alpha.json", MarkingDescriptor("alpha"));
  ASSERT_EQ(0, box.Run({"--verbose", "--randomize=7"}).status);
  EXPECT_EQ(head + "[<T> - <T>] sysboot: alpha\n" + config + Settings("1", "7"),
            NormalisedProfilingLog(box.ReadFile(kLog)));

  // A dump activates nothing (checked below): the plugin lines carry the zero time.
  ASSERT_EQ(0, box.Run({"--dump-dependency-tree=" + box.Path("/tree.dot"), "--randomize=3"}).status);
  EXPECT_EQ(head + "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: alpha\n" +
                config + Settings("0", "3"),
            NormalisedProfilingLog(box.ReadFile(kLog)));
}

TEST(DependencyDumpE2E, GraphGoesToAFileOrStandardOutputAndNothingRuns) {
  Sandbox box;
  std::string ran = box.Path("/ran");
  box.WriteFile("/etc/quarro/bootcrank/debug.conf", "disk one:early:storage:echo 1 >> " + ran +
                "\ndisk-two:early:storage,net:echo 2 >> " + ran + "\nmount:storage:mounted:echo 3 >> " + ran + "\n");
  auto parses = [&](const std::string& path) {
    return Shell("dot -Tsvg '" + box.Path(path) + "' -o /dev/null") == 0;
  };
  RunResult r = box.Run({"--dump-dependency-tree=" + box.Path("/graph.dot")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(parses("/graph.dot")) << box.ReadFile("/graph.dot");
  EXPECT_NE(box.ReadFile("/graph.dot").find("[label=\"disk one\"];\n"), std::string::npos);

  r = box.Run({"--dump-dependency-tree"});  // the graph among the log records
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  size_t begin = r.out.find("\ndigraph g {\n"), end = r.out.find("\n}\n", begin);
  ASSERT_NE(end, std::string::npos) << r.out;
  box.WriteFile("/out.dot", r.out.substr(begin + 1, end + 2 - begin));
  EXPECT_TRUE(parses("/out.dot")) << r.out;
  EXPECT_EQ(std::count(r.out.begin() + begin, r.out.begin() + end, '\n'), 15) << r.out;
  EXPECT_FALSE(box.Exists("/ran"));

  r = box.Run({"--dump-dependency-tree=" + box.Path("/missing/graph.dot")});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(box.Exists("/missing"));
  EXPECT_EQ(r.out.find("digraph"), std::string::npos) << r.out;
  EXPECT_TRUE(Messages(r.out, "error").empty() && Messages(r.out, "warning").empty()) << r.out;
}

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
