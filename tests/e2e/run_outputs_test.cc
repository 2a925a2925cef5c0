// The command line, the profiling log (whole, times masked) and the dumped graph.
#include <gtest/gtest.h>
#include <algorithm>
#include <regex>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

const char kLog[] = "/var/log/sysboot.log";

// The profiling log with the run's time stamps as "<T>" (the zero time of
// never-run plugins is kept) and the uptime as "<U>".
std::string Normalised(const std::string& log) {
  static const std::regex stamp(
      R"((?!1970-01-01 00:00:00\.000000)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})");
  static const std::regex uptime(R"(^HVKernel Initialization Time: \d*000000\n)");
  return std::regex_replace(std::regex_replace(log, uptime, "HVKernel Initialization Time: <U>\n"),
                            stamp, "<T>");
}

TEST(ProfilingLogEndToEnd, BootAndDumpRunsRewriteTheLog) {
  Sandbox box;
  const std::string head = "HVKernel Initialization Time: <U>\n";
  const std::string config = "=== Bootcrank configuration info ===\n Start: <T>\n End: <T>\n";
  auto settings = [](const char* verbose, const char* seed) {
    return std::string(" Verbose: ") + verbose +
           "\n Parallel: 0\n Randomize: 1\n Interactive Mode: 0\n Random Seed: " + seed + "\n";
  };
  box.WriteFile(kLog, "an old log\n");
  box.WritePlugin("alpha.json", MarkingDescriptor("alpha"));
  RunExpecting(box, {"--verbose", "--randomize=7"});
  EXPECT_EQ(head + "[<T> - <T>] sysboot: alpha\n" + config + settings("1", "7"),
            Normalised(box.ReadFile(kLog)));
  // A dump activates nothing (checked below): the plugin lines carry the zero time.
  RunExpecting(box, {"--dump-dependency-tree=" + box.Path("/tree.dot"), "--randomize=3"});
  EXPECT_EQ(head + "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: alpha\n" +
                config + settings("0", "3"),
            Normalised(box.ReadFile(kLog)));
}

TEST(DependencyDumpE2E, GraphGoesToAFileOrStandardOutputAndNothingRuns) {
  Sandbox box;
  std::string ran = box.Path("/ran");
  box.WriteFile("/etc/quarro/bootcrank/debug.conf", "disk one:early:storage:echo 1 >> " + ran +
                                                        "\ndisk-two:early:storage,net:echo 2 >> " +
                                                        ran + "\nmount:storage:mounted:echo 3 >> " +
                                                        ran + "\n");
  auto parses = [&](const std::string& path) {
    return Shell("dot -Tsvg '" + box.Path(path) + "' -o /dev/null") == 0;
  };
  RunExpecting(box, {"--dump-dependency-tree=" + box.Path("/graph.dot")});
  EXPECT_TRUE(parses("/graph.dot")) << box.ReadFile("/graph.dot");
  EXPECT_NE(box.ReadFile("/graph.dot").find("[label=\"disk one\"];\n"), std::string::npos);

  RunResult r = RunExpecting(box, {"--dump-dependency-tree"});  // the graph among the log records
  size_t begin = r.out.find("\ndigraph g {\n"), end = r.out.find("\n}\n", begin);
  ASSERT_NE(end, std::string::npos) << r.out;
  box.WriteFile("/out.dot", r.out.substr(begin + 1, end + 2 - begin));
  EXPECT_TRUE(parses("/out.dot")) << r.out;
  EXPECT_EQ(std::count(r.out.begin() + begin, r.out.begin() + end, '\n'), 15) << r.out;
  EXPECT_FALSE(box.Exists("/ran"));

  r = RunExpecting(box, {"--dump-dependency-tree=" + box.Path("/missing/graph.dot")}, 1);
  EXPECT_FALSE(box.Exists("/missing"));
  EXPECT_EQ(r.out.find("digraph"), std::string::npos) << r.out;
  EXPECT_TRUE(Messages(r.out, "error").empty() && Messages(r.out, "warning").empty()) << r.out;
}

using Args = std::vector<std::string>;

TEST(CommandLineE2E, HelpPrintsExactlyTheUsageTextAndInvalidCombinationsRunNothing) {
  Sandbox box;
  std::string usage = ReadAll(BOOTCRANK_SOURCE_DIR "/tests/runcontrol/usage.txt");
  for (const Args& args : {Args{"--help"}, Args{"--daemon", "--invoke", "--he"}}) {
    RunResult r = RunExpecting(box, args);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
  }
  RunResult unknown = RunExpecting(box, {"--frobnicate", "--help"}, 1);
  EXPECT_NE(unknown.err.find("usage: " + box.Program() + " --help for usage information\n"),
            std::string::npos);
  EXPECT_EQ(unknown.out, "");
  // The usage text follows the record; the parser folds it into the message.
  RunResult invoke = RunExpecting(box, {"--invoke", "--method=start"}, 1);
  EXPECT_EQ(Messages(invoke.out, "error"), Args{"invoke requires a method and plugin specified\n" +
                                                usage.substr(0, usage.size() - 1)});
  EXPECT_FALSE(box.Exists("/var/run/quarro/bootcrankExecutor.sock")) << "no executor was started";
  // Invalid daemon combinations run nothing.
  box.WriteFile("/bin/chkconfig", "#!/bin/sh\ntouch " + box.Path("/listed") + "\n", 0755);
  for (const Args& args : {Args{"--daemon", "--method=restart"}, Args{"--daemon"},
                           Args{"--daemon=wait", "--method=start", "--plugin=x"},
                           Args{"--daemon", "--method=stop", "--interactive"},
                           Args{"--daemon", "--method=start", "--invoke"}}) {
    RunResult r = RunExpecting(box, args, 1);
    EXPECT_EQ(ParseLogRecords(r.out).size(), 1u) << r.out;
    EXPECT_TRUE(HasRecord(r.out, "error", "Invalid combination of options passed. Exiting"));
  }
  EXPECT_FALSE(box.Exists("/listed")) << "the init scripts must not even be listed";
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
