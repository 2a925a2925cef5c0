// The installed program with its executor process and core CLI extension.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <regex>
#include <string>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace testing {
namespace {

// Pids of the executor processes whose start records are in `log`.
std::vector<pid_t> StartedExecutors(const std::string& log) {
  static const std::regex started(
      R"((?:^|\n)\S+ [^\[ ]+\[(\d+)\]: info: Executor Reset - polling for commands\n)");
  std::vector<pid_t> pids;
  for (std::sregex_iterator it(log.begin(), log.end(), started), end; it != end; ++it) {
    pids.push_back(std::stoi((*it)[1]));
  }
  return pids;
}

TEST(CliExecutorEndToEnd, PlainRunStartsAndStopsItsExecutor) {
  Sandbox box;
  ASSERT_TRUE(box.Exists("/usr/lib/quarro/hvcli/hvcli_core.so"));
  RunResult run = box.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  std::vector<std::string> infos;
  for (const LogLine& line : ParseLogRecords(run.out)) {
    if (line.tag == "info") infos.push_back(line.message);
  }
  auto has = [&](const std::string& m) {
    return std::find(infos.begin(), infos.end(), m) != infos.end();
  };
  EXPECT_TRUE(has("Launching Executor")) << run.out;
  EXPECT_TRUE(has("Setting up Executor - Reset Requested")) << run.out;
  EXPECT_TRUE(has("Executor has been Successfully Stopped")) << run.out;

  std::string log = box.ReadFile("/var/log/bootcrank-hvcli-stdout.log");
  std::vector<pid_t> pids = StartedExecutors(log);
  ASSERT_EQ(1u, pids.size()) << log;
  EXPECT_NE(std::string::npos, log.find("info: Bootcrank executor signalled to stop\n")) << log;
}

TEST(CliExecutorEndToEnd, ProgramExportsTheDispatcherMarker) {
  Sandbox box;
  EXPECT_EQ(0, Shell("nm -D --defined-only '" + box.Program() +
                     "' | grep -q ' D __hvclic_magic$'"));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
