// Daemon mode of the installed program: init scripts listed by a fake
// "<root>/bin/chkconfig -p", started and stopped in priority order.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

struct Daemon {
  std::string name;
  int priority;
  std::string body = "";  // shell lines run between the begin and end marks
};

class DaemonModeE2E : public ::testing::Test {
 protected:
  std::string Script(const std::string& name) const { return box_.Path("/etc/init.d/" + name); }

  // The scripts, listed in the given order; each appends "begin|end <name> <argument>" to /order.
  void Install(const std::vector<Daemon>& daemons) {
    std::string listing, order = box_.Path("/order");
    for (const Daemon& d : daemons) {
      box_.WriteFile("/etc/init.d/" + d.name,
                     "#!/bin/sh\necho \"begin " + d.name + " $1\" >> " + order + "\n" + d.body +
                         "\necho \"end " + d.name + " $1\" >> " + order + "\n", 0755);
      listing += Script(d.name) + " " + std::to_string(d.priority) + "\n";
    }
    box_.WriteFile("/listing", listing);
    box_.WriteFile("/bin/chkconfig", "#!/bin/sh\n[ \"$1\" = -p ] && cat " + box_.Path("/listing") + "\n", 0755);
  }
  std::string Failure(const std::string& name, const std::string& how) const {
    return "Execution of command: " + Script(name) + " " + how;
  }

  Sandbox box_;
};

TEST_F(DaemonModeE2E, StartGoesUpThePrioritiesOneLevelAfterAnotherPastFailures) {
  // Listed out of order; level 10 takes a while, so a missing chain would
  // let the higher levels begin before it ends. hvsyslogd and evtd are
  // never started by this run.
  Install({{"webd", 40}, {"ntpd", 10, "sleep 1"}, {"hvsyslogd", 5}, {"exits", 20, "exit 4"},
           {"evtd", 6}, {"evtd.local", 7}, {"killed", 30, "kill -9 $$"}});
  RunResult r = box_.Run({"--daemon=wait", "--method=start", "--parallel"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ("begin evtd.local start\nend evtd.local start\nbegin ntpd start\nend ntpd start\n"
            "begin exits start\nbegin killed start\nbegin webd start\nend webd start\n",
            box_.ReadFile("/order"));
  EXPECT_TRUE(HasRecord(r.out, "progress", "Starting service ntpd")) << r.out;
  std::string exits = Failure("exits", "start failed with status: 4");
  EXPECT_TRUE(HasRecord(r.out, "warning", "Bootcrank failed to start: exits reason: " + exits)) << r.out;
  EXPECT_TRUE(HasRecord(r.out, "warning", "Bootcrank failed to start: killed reason: " +
                                              Failure("killed", "start failed with signal: 9"))) << r.out;
  EXPECT_TRUE(HasRecord(r.out, "error", "Method invocation failed: exits->start() failed: " + exits)) << r.out;
  std::string kmsg = box_.ReadFile("/dev/kmsg");
  EXPECT_NE(kmsg.find("Bootcrank plugin exits activation failed: "), std::string::npos) << kmsg;
  EXPECT_NE(kmsg.find("Bootcrank plugin webd activated."), std::string::npos) << kmsg;
  EXPECT_FALSE(box_.Exists("/var/run/quarro/bootcrankExecutor.sock")) << "daemon mode runs no CLI executor";
}

TEST_F(DaemonModeE2E, StopGoesDownThePrioritiesIncludesEveryDaemonAndGoesOnAfterAFailure) {
  Install({{"ntpd", 10}, {"webd", 30, "sleep 1"}, {"hvsyslogd", 5}, {"sshd", 20, "exit 3"}, {"evtd", 6}});
  RunResult r = box_.Run({"--daemon=wait", "--method=stop", "--parallel"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ("begin webd stop\nend webd stop\nbegin sshd stop\nbegin ntpd stop\nend ntpd stop\n"
            "begin evtd stop\nend evtd stop\nbegin hvsyslogd stop\nend hvsyslogd stop\n",
            box_.ReadFile("/order"));
  std::string failure = Failure("sshd", "stop failed with status: 3");
  std::string kmsg;
  for (const char* name : {"webd", "sshd", "ntpd", "evtd", "hvsyslogd"}) {
    kmsg += std::string("<6>bootcrank: Deactivating Daemon ") + name + ".\n<6>bootcrank: Daemon " + name +
            (name == std::string("sshd") ? " deactivation failed: " + failure : std::string(" deactivated.")) + "\n";
  }
  EXPECT_EQ(kmsg, box_.ReadFile("/dev/kmsg"));
  EXPECT_TRUE(HasRecord(r.out, "warning", "Bootcrank failed to stop: sshd reason: " + failure)) << r.out;
  EXPECT_TRUE(HasRecord(r.out, "info", "executing stop for daemon ntpd.")) << r.out;
  EXPECT_TRUE(HasRecord(r.out, "info", "ntpd stopped.")) << r.out;
}

TEST_F(DaemonModeE2E, WaitTimeOutReportsTheDaemonAndLeavesItRunning) {
  Install({{"slow", 10, "echo $$ > " + box_.Path("/slow.pid") + "\nexec sleep 60"}, {"next", 20}});
  RunResult r = box_.Run({"--daemon=wait", "--daemon-wait-timeout=1", "--method=start"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  pid_t pid = static_cast<pid_t>(atol(box_.ReadFile("/slow.pid").c_str()));
  ASSERT_GT(pid, 0);
  EXPECT_EQ(0, kill(pid, 0)) << "a timed-out daemon is not killed";
  kill(pid, SIGKILL);
  EXPECT_TRUE(HasRecord(r.out, "warning", "Bootcrank failed to start: slow reason: Execution of command: '" +
                                              Script("slow") + " start' timed out.")) << r.out;
  EXPECT_EQ("begin slow start\nbegin next start\nend next start\n", box_.ReadFile("/order"));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
