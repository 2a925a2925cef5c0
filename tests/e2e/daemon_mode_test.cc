// Daemon mode of the installed program: init scripts listed by a fake
// "<root>/bin/chkconfig -p", or without one by the shipped lister from the
// root's /etc, started and stopped in priority order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

class DaemonModeE2E : public ::testing::Test {
 protected:
  // The scripts {name, priority, shell lines}, listed in the given order;
  // each appends "begin|end <name> <argument>" to /order around its lines.
  void Install(const std::vector<std::array<std::string, 3>>& daemons) {
    std::string listing, order = box_.Path("/order");
    for (const auto& d : daemons) {
      box_.WriteFile("/etc/init.d/" + d[0], "#!/bin/sh\necho \"begin " + d[0] + " $1\" >> " + order + "\n" + d[2] +
                                                "\necho \"end " + d[0] + " $1\" >> " + order + "\n", 0755);
      listing += box_.Path("/etc/init.d/" + d[0]) + " " + d[1] + "\n";
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
  // Listed out of order; level 10 takes a while, so a missing chain would
  // let the higher levels begin before it ends. hvsyslogd and evtd are
  // never started by this run. webd lists the descriptors scripts inherit.
  Install({{"webd", "40", ListDescriptors(box_.Path("/webd.fds"))}, {"ntpd", "10", "sleep 1"}, {"hvsyslogd", "5"},
           {"exits", "20", "exit 4"}, {"evtd", "6"}, {"evtd.local", "7"}, {"killed", "30", "kill -9 $$"}});
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
  EXPECT_EQ("0\n1\n2\n", box_.ReadFile("/webd.fds"));
  EXPECT_FALSE(box_.Exists("/var/run/quarro/bootcrankExecutor.sock")) << "daemon mode runs no CLI executor";
}

TEST_F(DaemonModeE2E, StopGoesDownThePrioritiesIncludesEveryDaemonAndGoesOnAfterAFailure) {
  Install({{"ntpd", "10"}, {"webd", "30", "sleep 1"}, {"hvsyslogd", "5"}, {"sshd", "20", "exit 3"}, {"evtd", "6"}});
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
}

TEST_F(DaemonModeE2E, WithoutChkconfigTheShippedListerListsTheRootsOwnScripts) {
  // webd and sshd are linked in /etc/rc2.d, ntpd has only its header and
  // waits for sshd, cron's header would enable it but its K link disables it.
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
  RunResult r = box_.Run({"--daemon=wait", "--method=start"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  r = box_.Run({"--daemon=wait", "--method=stop"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ("webd start\nsshd start\nntpd start\nntpd stop\nsshd stop\nwebd stop\n", box_.ReadFile("/order"));

  box_.Remove("/order");
  box_.WriteFile("/bin/chkconfig", "#!/bin/sh\necho " + box_.Path("/etc/init.d/cron") + " 5\n", 0755);
  r = box_.Run({"--daemon=wait", "--method=start"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ("cron start\n", box_.ReadFile("/order")) << "a root with /bin/chkconfig keeps using it";
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
