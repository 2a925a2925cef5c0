// How a run ends when a signal, a second run or a stalled executor gets in its way.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

// A debug injection that marks that it began, then runs `command`.
std::string Injection(const Sandbox& box, const std::string& name, const std::string& needs,
                      const std::string& gives, const std::string& command) {
  return name + ":" + needs + ":" + gives + ":touch " + box.Path("/var/run/quarro/" + name + ".began") +
         "; " + command + "\n";
}

// A command sending `signal` to this sandbox's executor process.
std::string SignalExecutor(const Sandbox& box, const std::string& signal) {
  box.WriteFile("/signal-executor",
                "for dir in /proc/[0-9]*; do\n"
                "  [ \"$(readlink $dir/exe)\" = " + box.Path("/usr/lib/quarro/bootcrank/hvcliExecutor") +
                    " ] && kill -$1 ${dir#/proc/}\n"
                "done\nexit 0\n",
                0755);
  return box.Path("/signal-executor") + " " + signal;
}

// SIGTERM mid-boot: running plugins end, no more start, the records cover what ran.
TEST(RunLifecycleE2E, TerminationSignalEndsTheRunCleanly) {
  Sandbox box;
  box.WritePlugin("once.json",
                  MarkingDescriptor("once", ", \"provides\": [\"once-done\"]", "true", "7"));
  box.WritePlugin("later.json",
                  MarkingDescriptor("later", ", \"requires\": [\"slow-done\"]", "true"));
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                Injection(box, "slow", "once-done", "slow-done", "sleep 300"));
  Started run = box.Start({"--init"});
  ASSERT_TRUE(run.AwaitOutput("executing start plugin: slow", 30)) << run.Output();
  for (int i = 0; i < 500 && !box.Exists("/var/run/quarro/slow.began"); ++i) usleep(10000);
  ASSERT_EQ(0, kill(run.Pid(), SIGTERM));
  RunResult result = run.Wait(30);
  EXPECT_EQ(128 + SIGTERM, result.status) << result.out;
  // The shell of the debug injection, and its sleep once it started.
  EXPECT_EQ(1, CountRecords(result.out, "info", "ended ")) << result.out;
  EXPECT_TRUE(HasRecord(result.out, "warning",
                        "received Terminated: starting no further plugin and ending the running ones"))
      << result.out;
  EXPECT_TRUE(HasRecord(result.out, "info", "Executor has been Successfully Stopped")) << result.out;
  EXPECT_TRUE(box.Exists("/var/run/quarro/once.ran"));
  EXPECT_FALSE(box.Exists("/var/run/quarro/later.ran"));
  EXPECT_NE(box.ReadFile("/var/log/sysboot.log").find("once"), std::string::npos);
  EXPECT_EQ("bootcrank.run-once=once7,\n", Unzipped(box, "/bootbank/bootcrnk.gz"));  // not later's
  EXPECT_EQ("", Leftovers(box));
}

// A second run waits for the first, naming it, and then runs normally.
TEST(RunLifecycleE2E, ASecondRunWaitsForTheFirst) {
  Sandbox box;
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                Injection(box, "gate", "gate-in", "gate-out", "while [ ! -e " + box.Path("/open") + " ]; do sleep 0.05; done"));
  Started first = box.Start({});
  ASSERT_TRUE(first.AwaitOutput("executing start plugin: gate", 30)) << first.Output();
  box.WritePlugin("second.json", MarkingDescriptor("second"));
  Started second = box.Start({"--invoke", "--method=start", "--plugin=second.json"});
  ASSERT_TRUE(second.AwaitOutput("info: waiting for the run of process " + std::to_string(first.Pid()) +
                                     " to end (it holds " + box.Path("/var/run/quarro/bootcrank.lock") + ")",
                                 30))
      << second.Output();
  EXPECT_FALSE(box.Exists("/var/run/quarro/second.ran"));
  box.WriteFile("/open", "");
  RunResult one = first.Wait(30), two = second.Wait(30);
  EXPECT_EQ(0, one.status) << one.out;
  EXPECT_EQ(0, two.status) << two.out;
  EXPECT_TRUE(box.Exists("/var/run/quarro/second.ran")) << two.out;
  // Each run started and stopped an executor of its own, and the first run's
  // stop did not take the second's commands away.
  EXPECT_EQ(std::vector<std::string>{}, Messages(two.out, "error")) << two.out;
  EXPECT_EQ("", Leftovers(box));
}

// A stopped executor is reported every 10 s and ended by its pid, mid-run or at the end.
TEST(RunLifecycleE2E, AStalledExecutorIsReportedAndEndedByItsPid) {
  Sandbox box;
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                Injection(box, "stopper", "stopper-in", "stopped", SignalExecutor(box, "STOP")));
  box.WritePlugin(
      "late.json",
      Descriptor("\"stopped\"", "", "\"file write --path=/var/run/quarro/late --content=1\""));
  Started run = box.Start({});
  ASSERT_TRUE(run.AwaitOutput("info: still waiting for the CLI executor after 10 s: plugin 'late', command "
                              "'file write --path=/var/run/quarro/late --content=1'",
                              40))
      << run.Output();
  ASSERT_EQ(0, kill(run.Pid(), SIGINT));
  RunResult result = run.Wait(40);
  EXPECT_EQ(128 + SIGINT, result.status) << result.out;
  EXPECT_EQ(1, CountRecords(result.out, "warning", "Ending executor process ")) << result.out;
  EXPECT_EQ("", Leftovers(box));

  box.WritePlugin("late.json", MarkingDescriptor("first", ", \"provides\": [\"b\"]"));
  box.WriteFile("/etc/quarro/bootcrank/debug.conf", Injection(box, "stopper", "b", "stopped", SignalExecutor(box, "STOP")));
  result = RunExpecting(box, {});
  EXPECT_EQ(1, CountRecords(result.out, "warning", "Ending executor process ")) << result.out;
  EXPECT_EQ("", Leftovers(box));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
