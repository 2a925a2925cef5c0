// Daemon mode of the installed program: init scripts listed by a fake
// "<root>/bin/chkconfig -p", started and stopped in priority order.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

using testing::ParseLogRecords;
using testing::RunResult;
using testing::Sandbox;

struct Daemon {
  std::string name;
  int priority;
  std::string body = "";  // shell lines run between the begin and end marks
};

class DaemonModeE2E : public ::testing::Test {
 protected:
  ~DaemonModeE2E() override {
    for (pid_t pid : leftovers_) kill(pid, SIGKILL);
  }

  std::string Script(const std::string& name) const {
    return box_.Path("/etc/init.d/" + name);
  }

  // Installs the daemons' scripts and a listing tool that prints them in the
  // given order. Each script records "begin|end <name> <argument>" in /order.
  void Install(const std::vector<Daemon>& daemons) {
    std::string listing;
    for (const Daemon& d : daemons) {
      box_.WriteFile("/etc/init.d/" + d.name,
                     "#!/bin/sh\n"
                     "echo \"begin " + d.name + " $1\" >> " + box_.Path("/order") + "\n" +
                         d.body + "\n" +
                         "echo \"end " + d.name + " $1\" >> " + box_.Path("/order") + "\n",
                     0755);
      listing += Script(d.name) + " " + std::to_string(d.priority) + "\n";
    }
    box_.WriteFile("/listing", listing);
    box_.WriteFile("/bin/chkconfig",
                   "#!/bin/sh\n"
                   "echo listed >> " + box_.Path("/chkconfig-calls") + "\n"
                   "[ \"$1\" = -p ] && cat " + box_.Path("/listing") + "\n",
                   0755);
  }

  std::string Order() const {
    return box_.Exists("/order") ? box_.ReadFile("/order") : std::string();
  }

  static bool HasRecord(const RunResult& r, const std::string& tag, const std::string& text) {
    for (const auto& record : ParseLogRecords(r.out)) {
      if (record.tag == tag && record.message == text) return true;
    }
    return false;
  }

  Sandbox box_;
  std::vector<pid_t> leftovers_;
};

TEST_F(DaemonModeE2E, StartRunGoesUpThePrioritiesOneLevelAfterAnother) {
  // Listed out of order; the lowest level takes a while, so a missing chain
  // would let the higher levels begin before it ends.
  Install({{"webd", 30},
           {"ntpd", 10, "sleep 1"},
           {"hvsyslogd", 5},
           {"sshd", 20, "sleep 0.5"},
           {"evtd", 6},
           {"evtd.local", 7}});
  RunResult r = box_.Run({"--daemon=wait", "--method=start", "--parallel"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ(
      "begin evtd.local start\nend evtd.local start\n"
      "begin ntpd start\nend ntpd start\n"
      "begin sshd start\nend sshd start\n"
      "begin webd start\nend webd start\n",
      Order());
  for (const char* name : {"evtd.local", "ntpd", "sshd", "webd"}) {
    EXPECT_TRUE(HasRecord(r, "progress", std::string("Starting service ") + name)) << r.out;
    EXPECT_TRUE(HasRecord(r, "info", std::string(name) + " started.")) << r.out;
  }
  EXPECT_FALSE(box_.Exists("/var/run/quarro/bootcrankExecutor.sock"))
      << "daemon mode runs no CLI executor";
}

TEST_F(DaemonModeE2E, StopRunGoesDownThePrioritiesAndIncludesEveryDaemon) {
  Install({{"ntpd", 10},
           {"webd", 30, "sleep 1"},
           {"hvsyslogd", 5},
           {"sshd", 20, "exit 3"},
           {"evtd", 6}});
  RunResult r = box_.Run({"--daemon=wait", "--method=stop", "--parallel"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  // sshd fails before its end mark; the run still goes on to the rest.
  EXPECT_EQ(
      "begin webd stop\nend webd stop\n"
      "begin sshd stop\n"
      "begin ntpd stop\nend ntpd stop\n"
      "begin evtd stop\nend evtd stop\n"
      "begin hvsyslogd stop\nend hvsyslogd stop\n",
      Order());
  std::string failure = "Execution of command: " + Script("sshd") + " stop failed with status: 3";
  EXPECT_EQ(
      "<6>bootcrank: Deactivating Daemon webd.\n"
      "<6>bootcrank: Daemon webd deactivated.\n"
      "<6>bootcrank: Deactivating Daemon sshd.\n"
      "<6>bootcrank: Daemon sshd deactivation failed: " + failure + "\n"
      "<6>bootcrank: Deactivating Daemon ntpd.\n"
      "<6>bootcrank: Daemon ntpd deactivated.\n"
      "<6>bootcrank: Deactivating Daemon evtd.\n"
      "<6>bootcrank: Daemon evtd deactivated.\n"
      "<6>bootcrank: Deactivating Daemon hvsyslogd.\n"
      "<6>bootcrank: Daemon hvsyslogd deactivated.\n",
      box_.ReadFile("/dev/kmsg"));
  EXPECT_TRUE(HasRecord(r, "warning", "Bootcrank failed to stop: sshd reason: " + failure))
      << r.out;
  EXPECT_TRUE(HasRecord(r, "info", "executing stop for daemon ntpd.")) << r.out;
  EXPECT_TRUE(HasRecord(r, "info", "ntpd stopped.")) << r.out;
}

TEST_F(DaemonModeE2E, FailedStartsAreReportedWithStatusOrSignalAndTheRunGoesOn) {
  Install({{"exits", 10, "exit 4"}, {"killed", 20, "kill -9 $$"}, {"fine", 30}});
  RunResult r = box_.Run({"--daemon=wait", "--method=start"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  std::string exits = "Execution of command: " + Script("exits") + " start failed with status: 4";
  std::string killed =
      "Execution of command: " + Script("killed") + " start failed with signal: 9";
  EXPECT_TRUE(HasRecord(r, "warning", "Bootcrank failed to start: exits reason: " + exits))
      << r.out;
  EXPECT_TRUE(HasRecord(r, "warning", "Bootcrank failed to start: killed reason: " + killed))
      << r.out;
  EXPECT_TRUE(HasRecord(r, "error", "Method invocation failed: exits->start() failed: " + exits))
      << r.out;
  EXPECT_EQ("begin exits start\nbegin killed start\nbegin fine start\nend fine start\n", Order());
  std::string kmsg = box_.ReadFile("/dev/kmsg");
  EXPECT_NE(std::string::npos, kmsg.find("Bootcrank plugin exits activation failed: "))
      << kmsg;
  EXPECT_NE(std::string::npos, kmsg.find("Bootcrank plugin fine activated.")) << kmsg;
}

TEST_F(DaemonModeE2E, WaitTimeOutReportsTheDaemonAndLeavesItRunning) {
  Install({{"slow", 10, "echo $$ > " + box_.Path("/slow.pid") + "\nexec sleep 60"},
           {"next", 20}});
  RunResult r = box_.Run({"--daemon=wait", "--daemon-wait-timeout=1", "--method=start"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  ASSERT_TRUE(box_.Exists("/slow.pid"));
  pid_t pid = static_cast<pid_t>(atol(box_.ReadFile("/slow.pid").c_str()));
  ASSERT_GT(pid, 0);
  leftovers_.push_back(pid);
  EXPECT_EQ(0, kill(pid, 0)) << "a timed-out daemon is not killed";
  EXPECT_TRUE(HasRecord(r, "warning",
                        "Bootcrank failed to start: slow reason: Execution of command: '" +
                            Script("slow") + " start' timed out."))
      << r.out;
  EXPECT_EQ("begin slow start\nbegin next start\nend next start\n", Order());
}

TEST_F(DaemonModeE2E, DaemonSectionIsAppendedToTheProfilingLog) {
  Install({{"ntpd", 10}, {"sshd", 20}});
  const std::string previous = "HVKernel Initialization Time: 75000000\n=== earlier run ===\n";
  box_.WriteFile("/var/log/sysboot.log", previous);
  RunResult r = box_.Run({"--daemon", "--method=start", "--verbose"});
  EXPECT_EQ(0, r.status) << r.out << r.err;

  std::string log = box_.ReadFile("/var/log/sysboot.log");
  ASSERT_EQ(previous, log.substr(0, previous.size())) << log;
  std::istringstream section(log.substr(previous.size()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(section, line);) lines.push_back(line);
  ASSERT_EQ(10u, lines.size()) << log;
  EXPECT_EQ('[', lines[0][0]);
  EXPECT_NE(std::string::npos, lines[0].find("] daemon: ntpd")) << lines[0];
  EXPECT_NE(std::string::npos, lines[1].find("] daemon: sshd")) << lines[1];
  EXPECT_EQ("=== Daemon configuration info ===", lines[2]);
  EXPECT_EQ(0u, lines[3].find(" Start Daemon: 20")) << lines[3];
  EXPECT_EQ(0u, lines[4].find(" End Daemon: 20")) << lines[4];
  EXPECT_EQ(" Verbose: 1", lines[5]);
  EXPECT_EQ(" Parallel: 0", lines[6]);
}

TEST_F(DaemonModeE2E, MissingProfilingLogIsReportedAndNotCreated) {
  Install({{"ntpd", 10}});
  RunResult r = box_.Run({"--daemon", "--method=stop"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ("begin ntpd stop\nend ntpd stop\n", Order());
  bool reported = false;
  for (const auto& record : ParseLogRecords(r.out)) {
    reported |= record.tag == "warning" &&
                record.message.rfind("unable to log daemon profiling information: "
                                     "failed to write to temp file: ", 0) == 0;
  }
  EXPECT_TRUE(reported) << r.out;
  EXPECT_FALSE(box_.Exists("/var/log/sysboot.log"));
}

TEST_F(DaemonModeE2E, WithoutListingToolNothingRuns) {
  RunResult r = box_.Run({"--daemon=nowait", "--method=start"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  for (const auto& record : ParseLogRecords(r.out)) {
    EXPECT_NE("progress", record.tag) << record.message;
  }
}

TEST_F(DaemonModeE2E, InvalidCombinationsRunNothing) {
  Install({{"ntpd", 10}});
  for (auto args : {std::vector<std::string>{"--daemon", "--method=restart"},
                    std::vector<std::string>{"--daemon=wait", "--method=start", "--plugin=x"},
                    std::vector<std::string>{"--daemon=nowait"},
                    std::vector<std::string>{"--daemon", "--method=stop", "--interactive"},
                    std::vector<std::string>{"--daemon", "--method=start", "--invoke"}}) {
    RunResult r = box_.Run(args);
    EXPECT_EQ(1, r.status) << args.back();
    auto records = ParseLogRecords(r.out);
    ASSERT_EQ(1u, records.size()) << r.out;
    EXPECT_EQ("error", records[0].tag);
    EXPECT_EQ("Invalid combination of options passed. Exiting", records[0].message);
  }
  EXPECT_FALSE(box_.Exists("/chkconfig-calls")) << "the listing must not even be read";
  EXPECT_EQ("", Order());
}

}  // namespace
}  // namespace bootcrank
