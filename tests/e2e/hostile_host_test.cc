// The installed program on a host that works against it: each run keeps what
// it does not own, says what it refused, runs nothing in part, leaves nothing.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <filesystem>
#include <string>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

const char kRecord[] = "/bootbank/bootcrnk.gz";
const char kLog[] = "/var/log/sysboot.log";
const char kExecutorLog[] = "/var/log/bootcrank-hvcli-stdout.log";
const char kSocket[] = "/var/run/quarro/bootcrankExecutor.sock";

int ModeOf(const std::string& path) {  // -1: missing; links not followed
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

class HostileHost : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ("", Leftovers(box_)); }
  Sandbox box_;
};

// Each refusal is the output's usual open failure; targets and links stay as they were.
TEST_F(HostileHost, LinksAtFixedOutputPathsAreRefusedAndTheirTargetsUntouched) {
  const std::string loop = std::strerror(ELOOP);
  const std::string logFailure =
      "profiling information: unable to create temporary file to write '" + box_.Path(kLog) +
      "': " + loop + ".";
  struct Planted {
    const char *link, *target;
    std::string warning;  // the refusal, as the run reports it
  } planted[] = {
      {kRecord, "/victim/record",
       "unable to write run-once record (" + box_.Path(kRecord) + "): " + loop + "."},
      {kLog, "/victim/log", "unable to log " + logFailure},
      {kExecutorLog, "/victim/executor", "Failed opening log file " + box_.Path(kExecutorLog)}};
  for (const Planted& p : planted) {
    box_.Remove(p.link);
    box_.WriteFile(p.target, p.target, 0600);
    ASSERT_EQ(0, symlink(box_.Path(p.target).c_str(), box_.Path(p.link).c_str())) << p.link;
  }
  box_.WritePlugin("once.json", MarkingDescriptor("once", "", "true", "2"));
  RunResult run = box_.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(box_.Exists("/var/run/quarro/once.ran")) << run.out;
  for (const Planted& p : planted)
    EXPECT_TRUE(HasRecord(run.out, "warning", p.warning)) << p.warning;
  // A daemon run appends to the profiling log: the target is not copied in.
  run = box_.Run({"--daemon=nowait", "--method=start"});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(HasRecord(run.out, "warning", "unable to log daemon " + logFailure)) << run.out;
  for (const Planted& p : planted) {
    EXPECT_EQ(p.target, box_.ReadFile(p.target));
    EXPECT_EQ(0600, ModeOf(box_.Path(p.target))) << p.target;
    EXPECT_EQ(box_.Path(p.target), std::filesystem::read_symlink(box_.Path(p.link)).string());
  }
}

// A new record (far larger than the old) or log that does not fit: the old stays whole.
TEST_F(HostileHost, FullBootBankKeepsTheOldRunOnceRecord) {
  if (Shell("unshare -m true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "unshare -m needs CAP_SYS_ADMIN";
  std::string keys;  // compress badly
  for (unsigned i = 0; i < 1500; ++i) {
    keys += (i ? "," : "") + std::to_string(i * 2654435761u % 1000003u) + "x" +
            std::to_string(i * 40503u);
  }
  box_.WritePlugin("one.json", Descriptor("", "", ""));
  box_.WriteFile("/old-record", "bootcrank.run-once=old1.0,\n");
  ASSERT_EQ(0, Shell("gzip -n '" + box_.Path("/old-record") + "'"));
  FullFileSystemRun run =
      RunWithFullFileSystem(box_, kRecord, box_.ReadFile("/old-record.gz"), "--run-once=" + keys);
  ASSERT_TRUE(run.ran);
  EXPECT_EQ("0\n", run.status) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "warning",
                        "unable to write run-once record (" + box_.Path(kRecord) +
                            "): " + std::strerror(ENOSPC) + "."));
  box_.WriteFile("/kept.gz", run.kept);
  EXPECT_EQ("bootcrank.run-once=old1.0,\n", Unzipped(box_, "/kept.gz"));
  EXPECT_EQ(".\n..\nbootcrnk.gz\nfiller\n", run.listing);

  run = RunWithFullFileSystem(box_, kLog, "the old log\n", "");
  ASSERT_TRUE(run.ran);
  EXPECT_EQ("0\n", run.status) << run.out;
  EXPECT_EQ(1, CountRecords(run.out, "warning", "unable to log profiling information: "))
      << run.out;
  EXPECT_EQ("the old log\n", run.kept);
  EXPECT_EQ(std::string::npos, run.listing.find("sysboot.log.")) << run.listing;
}

// Exactly a killed run's temporary files go; the rewritten record keeps its mode.
TEST_F(HostileHost, TemporaryFilesOfAKilledRunAreRemovedByTheNextRun) {
  const char* leftovers[] = {"/bootbank/bootcrnk.gz.a1B2c3", "/var/log/sysboot.log.Zz9Yy8"};
  const char* others[] = {"/bootbank/bootcrnk.gz.keep", "/bootbank/bootcrnk.gz.a1B2c3d",
                          "/bootbank/bootcrnk.gz.a1B2-3", "/bootbank/other.gz.a1B2c3",
                          "/var/log/sysboot.log.old"};
  for (const char* path : leftovers) box_.WriteFile(path, "half-written\n", 0600);
  for (const char* path : others) box_.WriteFile(path, "someone else's\n");
  box_.WriteFile(kRecord, "", 0640);
  box_.WritePlugin("once.json", MarkingDescriptor("once", "", "true", "2"));
  RunResult run = box_.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  for (const char* path : leftovers) EXPECT_FALSE(box_.Exists(path)) << path;
  for (const char* path : others) EXPECT_EQ("someone else's\n", box_.ReadFile(path)) << path;
  EXPECT_EQ("bootcrank.run-once=once2,\n", Unzipped(box_, kRecord));
  EXPECT_EQ(0640, ModeOf(box_.Path(kRecord)));
}

// A listener of user "nobody" (bound as root) at the control socket path,
// answering success; "L" once it listens, then what it receives, go to `file`.
[[noreturn]] void ListenAsNobody(const std::string& path, const std::string& file) {
  int report = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  sockaddr_un address{AF_UNIX, {}};
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || setgid(65534) != 0 ||
      setuid(65534) != 0 || listen(fd, 16) != 0 || write(report, "L", 1) != 1) {
    _exit(1);
  }
  for (char request[1024];;) {
    int connection = accept(fd, nullptr, nullptr);
    ssize_t n = connection < 0 ? 0 : recv(connection, request, sizeof request, 0);
    if (n > 0) (void)!write(report, request, static_cast<size_t>(n));
    int32_t success = 0;
    send(connection, &success, sizeof success, MSG_NOSIGNAL);
    close(connection);
  }
}

TEST_F(HostileHost, ControlSocketServedByAnotherUserGetsNoCommand) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  box_.WritePlugin("marked.json", MarkingDescriptor("marked"));
  pid_t listener = fork();
  if (listener == 0) ListenAsNobody(box_.Path(kSocket), box_.Path("/received"));
  for (int i = 0; i < 1000 && box_.ReadFile("/received").empty(); ++i) usleep(10000);
  RunResult run = box_.Run({});
  kill(listener, SIGKILL);
  waitpid(listener, nullptr, 0);
  EXPECT_EQ("L", box_.ReadFile("/received"));  // it listened, and got nothing
  EXPECT_EQ(1, run.status) << run.out << run.err;
  EXPECT_EQ(1, CountRecords(run.out, "error",
                            "Refusing the executor control socket " + box_.Path(kSocket) +
                                ": it is served by uid 65534 (pid "))
      << run.out;
  EXPECT_TRUE(
      HasRecord(run.out, "warning", "Failed to start executor Bootcrank executor failed to start"));
  EXPECT_FALSE(box_.Exists("/var/run/quarro/marked.ran"));
}

// A file, a dangling link or a link to a directory there costs one reset.
TEST_F(HostileHost, JunkAtTheControlSocketPathIsClearedAtTheFirstStart) {
  box_.WritePlugin("marked.json", MarkingDescriptor("marked"));
  box_.MakeDirectory("/elsewhere");
  for (const std::string& junk : {std::string("touch"), std::string("ln -s /nonexistent/socket"),
                                  "ln -s '" + box_.Path("/elsewhere") + "'"}) {
    SCOPED_TRACE(junk);
    box_.Remove(kSocket);
    box_.Remove("/var/run/quarro/marked.ran");
    ASSERT_EQ(0, Shell(junk + " '" + box_.Path(kSocket) + "'"));
    RunResult run = box_.Run({});
    EXPECT_EQ(0, run.status) << run.out << run.err;
    EXPECT_TRUE(box_.Exists("/var/run/quarro/marked.ran"));
    EXPECT_EQ(1, CountRecords(run.out, "info", "Setting up Executor - Reset Requested")) << run.out;
  }
  EXPECT_TRUE(box_.Exists("/elsewhere"));
}

// Started with SIGPIPE and SIGHUP ignored and SIGUSR2 blocked, the program
// gives its children the defaults. Each child is a copy of a recorder of its
// own signal state (a shell in between would clear the mask itself).
TEST_F(HostileHost, ChildrenStartWithDefaultSignalDispositionsAndAnEmptyMask) {
  box_.WriteFile(
      "/recorder.c",
      "#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n"
      "int main(int argc, char **argv) {\n"
      "  const char *name = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];\n"
      "  char path[4096], line[256];\n"
      "  snprintf(path, sizeof path, \"%s/signals/%s\", getenv(\"BOOTCRANK_ROOT\"), name);\n"
      "  FILE *in = fopen(\"/proc/self/status\", \"r\"), *out = fopen(path, \"w\");\n"
      "  while (in && out && fgets(line, sizeof line, in))\n"
      "    if (!strncmp(line, \"SigBlk:\", 7) || !strncmp(line, \"SigIgn:\", 7)) fputs(line, "
      "out);\n"
      "  return !(argc > 0 && in && out && fclose(out) == 0);\n"
      "}\n");
  ASSERT_EQ(0, Shell("cc -o '" + box_.Path("/recorder") + "' '" + box_.Path("/recorder.c") + "'"));
  box_.MakeDirectory("/signals");
  for (const std::string program :
       {"/usr/lib/quarro/hvsyslog/bin/hvsyslogd", "/etc/init.d/evtd", "/etc/init.d/webd",
        "/debug/debug", "/usr/lib/quarro/hvsyslog/bin/upgrade-syslog.conf.sh", "/bin/listing"}) {
    box_.MakeDirectory(program.substr(0, program.rfind('/')));
    ASSERT_EQ(0, Shell("cp '" + box_.Path("/recorder") + "' '" + box_.Path(program) + "'"))
        << program;
  }
  box_.WriteFile("/etc/syslog.conf", "");
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                 "debug:none:debug-done:" + box_.Path("/debug/debug") + "\n");
  box_.WriteFile("/bin/chkconfig",
                 "#!/bin/sh\n'" + box_.Path("/bin/listing") + "'\necho '" +
                     box_.Path("/etc/init.d/webd") + " 10'\n",
                 0755);
  struct sigaction ignore = {}, savedPipe, savedHup;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &savedPipe);
  sigaction(SIGHUP, &ignore, &savedHup);
  sigset_t usr2, savedMask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  sigprocmask(SIG_BLOCK, &usr2, &savedMask);
  RunResult boot = box_.Run({"--init", "--parallel"});
  RunResult daemons = box_.Run({"--daemon=wait", "--method=start"});
  sigprocmask(SIG_SETMASK, &savedMask, nullptr);
  sigaction(SIGHUP, &savedHup, nullptr);
  sigaction(SIGPIPE, &savedPipe, nullptr);
  EXPECT_EQ(0, boot.status) << boot.out << boot.err;
  EXPECT_EQ(0, daemons.status) << daemons.out << daemons.err;
  for (const char* child :
       {"hvsyslogd", "evtd", "upgrade-syslog.conf.sh", "debug", "listing", "webd"}) {
    EXPECT_EQ("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n",
              box_.ReadFile(std::string("/signals/") + child))
        << child;
  }
}

// Cut at its cap, the debug file's last command (or a 1023-byte CLI command)
// would run as a shorter, different command: neither runs at all.
TEST_F(HostileHost, InputOverItsCapRunsNothingOfIt) {
  std::string first = "first:in1:out1:touch " + box_.Path("/var/run/quarro/first.ran") + "\n";
  std::string last =
      "cut:in3:out3:touch " + box_.Path("/var/run/quarro/cut-target-beyond-the-cap") + "\n";
  std::string pad = "pad:in2:out2:true #";
  pad += std::string((16 << 20) - first.size() - pad.size() - 1 - last.find("-target"), 'x') + "\n";
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf", first + pad + last);
  box_.WritePlugin("cert.json",
                   Descriptor("", "",
                              "\"file write --path=/var/run/quarro/first --content=1\", "
                              "\"file write --path=/var/run/quarro/cert --content=" +
                                  std::string(1450, 'c') + "\""));
  box_.WritePlugin("other.json", MarkingDescriptor("other"));
  RunResult run = box_.Run({});
  EXPECT_EQ(run.status, 0) << run.out.substr(0, 4000);
  for (const char* absent : {"first.ran", "cut", "cut-target", "cert", "first"}) {
    EXPECT_FALSE(box_.Exists("/var/run/quarro/" + std::string(absent))) << absent;
  }
  EXPECT_TRUE(box_.Exists("/var/run/quarro/other.ran"));
  EXPECT_TRUE(HasRecord(run.out, "warning",
                        "ignoring debug injection file " +
                            box_.Path("/etc/quarro/bootcrank/debug.conf") +
                            ": larger than 16777216 bytes"));
  EXPECT_TRUE(
      HasRecord(run.out, "error",
                "plugin 'cert': CLI command of 1499 bytes is longer than the limit of 1023 bytes: "
                "file write --path=/var/run/quarro/cert --content=ccccccccccc..."));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
