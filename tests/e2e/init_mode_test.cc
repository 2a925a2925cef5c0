// The host steps of init and daemon mode, through stand-in programs below the
// sandbox root (init scripts listed by a fake chkconfig or the shipped lister).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

using namespace std::string_literals;

// A program that appends its name and arguments to /steps below the root.
std::string Recorder(const char* name) {
  return std::string("#!/bin/sh\necho \"") + name + " $*\" >> \"$BOOTCRANK_ROOT/steps\"\n";
}

TEST(InitModeE2E, DaemonsStartFirstThenTheSyslogDaemonIsUpgradedAndReloaded) {
  Sandbox box;
  box.WriteFile("/usr/lib/quarro/hvsyslog/bin/hvsyslogd", Recorder("hvsyslogd"), 0755);
  box.WriteFile("/etc/init.d/evtd", Recorder("evtd"), 0755);
  box.WriteFile("/usr/lib/quarro/hvsyslog/bin/upgrade-syslog.conf.sh", Recorder("upgrade"), 0755);
  box.WriteFile("/etc/syslog.conf", "");
  box.WritePlugin("p.json", MarkingDescriptor("p"));
  // A live "syslog daemon" that records the reload signal.
  Started daemon({"/bin/sh", "-c", "trap 'echo usr1 > " + box.Path("/reloaded") +
                                       "; exit 0' USR1; echo ready; while :; do sleep 0.05; done"},
                 nullptr);
  ASSERT_TRUE(daemon.AwaitOutput("ready", 10));
  box.WriteFile("/var/run/quarro/hvsyslogd.pid", "  " + std::to_string(daemon.Pid()) + "\n");
  RunExpecting(box, {"--init"});
  daemon.Wait(5);
  EXPECT_EQ(box.ReadFile("/steps"), "hvsyslogd -i\nevtd start\nupgrade \n");
  EXPECT_EQ(box.ReadFile("/reloaded"), "usr1\n");
  EXPECT_TRUE(box.Exists("/var/run/quarro/p.ran"));
}

// Nothing but a whole pid in range is signalled (2^32 + N used to signal N).
TEST(InitModeE2E, PidFileProblemsAreReportedAndTheRunStillSucceeds) {
  Sandbox box;
  Started sleeper({"/bin/sleep", "600"}, nullptr);  // SIGUSR1 would end it
  const pid_t bystander = sleeper.Pid();
  const std::string other = std::to_string(bystander), pidFile = "/var/run/quarro/hvsyslogd.pid";
  // "none": no pid file, a warning; "fifo": a FIFO nobody writes; the others are unreadable.
  for (const std::string& content :
       {"none"s, "fifo"s, "syslogd\n"s, "0\n"s, "-1\n"s, "4294967296\n"s, other + "abc\n",
        std::to_string(4294967296LL + bystander) + "\n", other + "\n" + std::string(5000, ' ')}) {
    SCOPED_TRACE(content.substr(0, 20));
    box.Remove(pidFile);
    ASSERT_EQ(0, content == "fifo" ? mkfifo(box.Path(pidFile).c_str(), 0644) : 0);
    if (content != "none" && content != "fifo") box.WriteFile(pidFile, content);
    RunResult run = RunExpecting(box, {"--init"});
    EXPECT_TRUE(content == "none"
                    ? HasRecord(run.out, "warning", "unable to open hvksyslogd pid file.")
                    : HasRecord(run.out, "error", "unable to read hvsyslogd pid."))
        << run.out;
    EXPECT_EQ(0, waitpid(bystander, nullptr, WNOHANG)) << "the bystander was signalled";
  }
}

// An empty option (a script's unset variable) is no directory, not the default.
TEST(InitModeE2E, AMissingOrEmptyPluginDirectoryEndsTheRunWithStatusOneAfterTheFinishSteps) {
  for (const char* option : {"--plugin-directory=/nonexistent/plugins", "--plugin-directory="}) {
    SCOPED_TRACE(option);
    Sandbox box;
    box.WritePlugin("host.json", MarkingDescriptor("host"));
    RunResult run = RunExpecting(box, {"--init", option}, 1);
    EXPECT_FALSE(box.Exists("/var/run/quarro/host.ran"));
    EXPECT_EQ(CountRecords(run.out, "error", "unhandled exception whilst enumerating plugins.\nDetails:\n "), 1)
        << run.out;
    EXPECT_TRUE(HasRecord(run.out, "info", "Executor has been Successfully Stopped")) << run.out;
    std::string log = box.ReadFile("/var/log/sysboot.log");
    EXPECT_EQ(log.find("sysboot:"), std::string::npos);
    EXPECT_EQ(log.find("=== Bootcrank configuration info ===\n"), log.find('\n') + 1) << log;
    EXPECT_FALSE(box.Exists("/bootbank/bootcrnk.gz"));  // no record after a failed discovery
  }
}

class DaemonModeE2E : public ::testing::Test {
 protected:
  // The scripts "<name> <priority> <shell line>", one a line, listed in that
  // order; each appends "begin|end <name> <argument>" to /order around its line.
  void Install(const std::string& daemons) {
    std::istringstream lines(daemons + "\n");
    std::string listing, order = " $1\" >> " + box_.Path("/order") + "\n";
    for (std::string name, level, line; lines >> name >> level && std::getline(lines, line);) {
      box_.WriteFile(
          "/etc/init.d/" + name,
          "#!/bin/sh\necho \"begin " + name + order + line + "\necho \"end " + name + order, 0755);
      listing += box_.Path("/etc/init.d/" + name) + " " + level + "\n";
    }
    box_.WriteFile("/listing", listing);
    box_.WriteFile("/bin/chkconfig", "#!/bin/sh\n[ \"$1\" = -p ] && cat " + box_.Path("/listing") + "\n", 0755);
  }
  std::string Failure(const std::string& name, const std::string& how) const {
    return "Execution of command: " + box_.Path("/etc/init.d/" + name) + " " + how;
  }

  Sandbox box_;
};

TEST_F(DaemonModeE2E, StartGoesUpThePrioritiesOneLevelAfterAnotherPastFailures) {
  // Level 10 takes a while: without the chain higher levels would begin before it
  // ends. Start runs leave out hvsyslogd and evtd.
  Install("webd 40 " + ListDescriptors(box_.Path("/webd.fds")) +
          "\nntpd 10 sleep 1\nhvsyslogd 5\nexits 20 exit 4\nevtd 6\nevtd.local 7\n"
          "killed 30 kill -9 $$");
  RunResult r = RunExpecting(box_, {"--daemon=wait", "--method=start", "--parallel"});
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
  EXPECT_EQ("0\n1\n2\n", box_.ReadFile("/webd.fds"));
  EXPECT_FALSE(box_.Exists("/var/run/quarro/bootcrankExecutor.sock")) << "daemon mode runs no CLI executor";
}

TEST_F(DaemonModeE2E, StopGoesDownThePrioritiesIncludesEveryDaemonAndGoesOnAfterAFailure) {
  Install("ntpd 10\nwebd 30 sleep 1\nhvsyslogd 5\nsshd 20 exit 3\nevtd 6");
  RunResult r = RunExpecting(box_, {"--daemon=wait", "--method=stop", "--parallel"});
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
}

TEST_F(DaemonModeE2E, WithoutChkconfigTheShippedListerListsTheRootsOwnScripts) {
  // ntpd has only its header and waits for sshd; cron's K link disables it.
  const std::string order = box_.Path("/order");
  auto script = [&](const std::string& name, const std::string& header) {
    box_.WriteFile("/etc/init.d/" + name, "#!/bin/sh\n### BEGIN INIT INFO\n" + header + "### END INIT INFO\necho \"" +
                                              name + " $1\" >> " + order + "\n", 0755);
  };
  const std::string enabled = "# Default-Start: 2 3 4 5\n";
  script("webd", enabled);
  script("sshd", "# Provides: ssh\n");
  script("ntpd", "# Required-Start: ssh\n" + enabled);
  script("cron", enabled);
  box_.MakeDirectory("/etc/rc2.d");
  for (const std::string link : {"S01webd", "S02sshd", "K01cron"}) {
    ASSERT_EQ(0, symlink(("../init.d/" + link.substr(3)).c_str(), box_.Path("/etc/rc2.d/" + link).c_str()));
  }
  RunExpecting(box_, {"--daemon=wait", "--method=start"});
  RunExpecting(box_, {"--daemon=wait", "--method=stop"});
  EXPECT_EQ("webd start\nsshd start\nntpd start\nntpd stop\nsshd stop\nwebd stop\n", box_.ReadFile("/order"));

  box_.Remove("/order");
  box_.WriteFile("/bin/chkconfig", "#!/bin/sh\necho " + box_.Path("/etc/init.d/cron") + " 5\n", 0755);
  RunExpecting(box_, {"--daemon=wait", "--method=start"});
  EXPECT_EQ("cron start\n", box_.ReadFile("/order")) << "a root with /bin/chkconfig keeps using it";
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
