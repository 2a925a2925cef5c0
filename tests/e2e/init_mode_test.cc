// Init mode's host steps on the installed program, observed through stand-in
// programs below the sandbox root: the syslog and event daemons started first,
// the syslog configuration upgrade and the reload signal at the end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

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
  box.WriteFile("/usr/libexec/bootcrank/plugins/p.json", MarkingDescriptor("p"));
  // A live "syslog daemon" that records the reload signal.
  std::string flag = box.Path("/reloaded");
  pid_t daemon = fork();
  ASSERT_GE(daemon, 0);
  if (daemon == 0) {
    execl("/bin/sh", "sh", "-c", ("trap 'echo usr1 > " + flag + "; exit 0' USR1; while :; do sleep 0.05; done").c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  usleep(200000);  // let the shell install its trap
  box.WriteFile("/var/run/quarro/hvsyslogd.pid", "  " + std::to_string(daemon) + "\n");

  RunResult run = box.Run({"--init"});
  int status = 0;
  for (int i = 0; i < 500 && waitpid(daemon, &status, WNOHANG) == 0; ++i) usleep(10000);
  if (kill(daemon, 0) == 0) {
    kill(daemon, SIGKILL);
    waitpid(daemon, &status, 0);
  }
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(box.ReadFile("/steps"), "hvsyslogd -i\nevtd start\nupgrade \n");
  EXPECT_EQ(box.ReadFile("/reloaded"), "usr1\n");
  EXPECT_TRUE(box.Exists("/var/run/quarro/p.ran"));
}

// Nothing but a whole pid in range is signalled: a value of 2^32 + N used to
// be narrowed to N (2^32 itself to the run's own process group), and a pid
// beyond the read cap used to be read from the first 4 KiB.
TEST(InitModeE2E, PidFileProblemsAreReportedAndTheRunStillSucceeds) {
  Sandbox box;
  pid_t bystander = fork();  // SIGUSR1 would end it
  if (bystander == 0) {
    for (;;) pause();
  }
  const std::string other = std::to_string(bystander);
  struct Case {
    std::string content;  // "none": no pid file; "fifo": a FIFO nobody writes
    const char* tag;
    const char* message;
  };
  const char* unreadable = "unable to read hvsyslogd pid.";
  for (const Case& c : {Case{"none", "warning", "unable to open hvksyslogd pid file."},
                        Case{"fifo", "error", unreadable}, Case{"syslogd\n", "error", unreadable},
                        Case{"0\n", "error", unreadable}, Case{"-1\n", "error", unreadable},
                        Case{"4294967296\n", "error", unreadable},
                        Case{std::to_string(4294967296LL + bystander) + "\n", "error", unreadable},
                        Case{other + "abc\n", "error", unreadable},
                        Case{other + "\n" + std::string(5000, ' '), "error", unreadable}}) {
    SCOPED_TRACE(c.content.substr(0, 20));
    std::string pidFile = box.Path("/var/run/quarro/hvsyslogd.pid");
    unlink(pidFile.c_str());
    if (c.content == "fifo") {
      ASSERT_EQ(0, mkfifo(pidFile.c_str(), 0644));
    } else if (c.content != "none") {
      box.WriteFile("/var/run/quarro/hvsyslogd.pid", c.content);
    }
    RunResult run = box.Run({"--init"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(HasRecord(run.out, c.tag, c.message)) << run.out;
    EXPECT_EQ(0, waitpid(bystander, nullptr, WNOHANG)) << "the bystander was signalled";
  }
  kill(bystander, SIGKILL);
  waitpid(bystander, nullptr, 0);
}

// An empty directory option (a script's unset variable) is no directory, not
// the default one with the host's own plugins.
TEST(InitModeE2E, AMissingOrEmptyPluginDirectoryEndsTheRunWithStatusOneAfterTheFinishSteps) {
  for (const char* option : {"--plugin-directory=/nonexistent/plugins", "--plugin-directory="}) {
    SCOPED_TRACE(option);
    Sandbox box;
    box.WriteFile("/usr/libexec/bootcrank/plugins/host.json", MarkingDescriptor("host"));
    RunResult run = box.Run({"--init", option});
    EXPECT_FALSE(box.Exists("/var/run/quarro/host.ran"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CountRecords(run.out, "error", "unhandled exception whilst enumerating plugins.\nDetails:\n "), 1)
        << run.out;
    EXPECT_TRUE(HasRecord(run.out, "info", "Executor has been Successfully Stopped")) << run.out;
    std::string log = box.ReadFile("/var/log/sysboot.log");
    EXPECT_EQ(log.find("sysboot:"), std::string::npos);
    EXPECT_EQ(log.find("=== Bootcrank configuration info ===\n"), log.find('\n') + 1) << log;
    EXPECT_FALSE(box.Exists("/bootbank/bootcrnk.gz"));  // no record after a failed discovery
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
