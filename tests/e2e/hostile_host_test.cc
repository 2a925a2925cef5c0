// The installed program on a host that works against it: links planted at its
// fixed output paths, a full boot bank, temporary files of a killed run, a
// control socket path taken by another user or by junk, and a parent that
// leaves signals ignored or blocked. Every run must keep what it does not own
// untouched, say what it refused, and leave nothing behind.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

const char kRecord[] = "/bootbank/bootcrnk.gz";
const char kLog[] = "/var/log/sysboot.log";
const char kExecutorLog[] = "/var/log/bootcrank-hvcli-stdout.log";
const char kSocket[] = "/var/run/quarro/bootcrankExecutor.sock";

// The mode bits of `path`, or -1 when it does not exist; links are not followed.
int ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// Where the symbolic link `path` points; "" when it is no link.
std::string LinkTarget(const std::string& path) {
  char buffer[4096];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string Unzipped(const Sandbox& box, const std::string& path) {
  RunResult zcat = RunProcess({"/bin/zcat", box.Path(path)}, nullptr, 30);
  return zcat.status == 0 ? zcat.out : "<not gzip: " + zcat.err + ">";
}

class HostileHost : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ("", Leftovers(box_)); }
  void Plugin(const std::string& file, const std::string& text) {
    box_.WriteFile("/usr/libexec/bootcrank/plugins/" + file, text);
  }
  Sandbox box_;
};

// Links planted in the place of the run-once record, the profiling log and
// the executor's output log, pointing at files that someone else owns: none
// of those files is written, read into a log or changed in mode, every link
// stays, and each refusal is the output's usual open failure.
TEST_F(HostileHost, LinksAtFixedOutputPathsAreRefusedAndTheirTargetsUntouched) {
  const std::string loop = std::strerror(ELOOP);
  struct Planted {
    const char* link;
    const char* target;
    std::string warning;  // the refusal, as the run reports it
  };
  const std::vector<Planted> planted{
      {kRecord, "/victim/record",
       "unable to write run-once record (" + box_.Path(kRecord) + "): " + loop + "."},
      {kLog, "/victim/log",
       "unable to log profiling information: unable to create temporary file to write '" + box_.Path(kLog) +
           "': " + loop + "."},
      {kExecutorLog, "/victim/executor", "Failed opening log file " + box_.Path(kExecutorLog)}};
  for (const Planted& p : planted) {
    box_.Remove(p.link);
    box_.WriteFile(p.target, std::string("precious ") + p.target + "\n", 0600);
    ASSERT_EQ(0, symlink(box_.Path(p.target).c_str(), box_.Path(p.link).c_str())) << p.link;
  }
  Plugin("once.json", MarkingDescriptor("once", "", "true", "2"));

  RunResult run = box_.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(box_.Exists("/var/run/quarro/once.ran")) << run.out;
  for (const Planted& p : planted) {
    EXPECT_TRUE(HasRecord(run.out, "warning", p.warning)) << p.warning << "\n" << run.out;
  }

  // A daemon run appends to the profiling log: the link's target is not
  // copied into it.
  run = box_.Run({"--daemon=nowait", "--method=start"});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(HasRecord(run.out, "warning",
                        "unable to log daemon profiling information: unable to create temporary file to write '" +
                            box_.Path(kLog) + "': " + loop + "."))
      << run.out;

  for (const Planted& p : planted) {
    EXPECT_EQ(std::string("precious ") + p.target + "\n", box_.ReadFile(p.target)) << p.target;
    EXPECT_EQ(0600, ModeOf(box_.Path(p.target))) << p.target;
    EXPECT_EQ(box_.Path(p.target), LinkTarget(box_.Path(p.link))) << p.link;
  }
}

// A boot bank with no free block: the new record, larger than the old one,
// cannot be written; the old record stays whole and no temporary file is left.
TEST_F(HostileHost, FullBootBankKeepsTheOldRunOnceRecord) {
  if (Shell("unshare -m true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no private mount namespace here (unshare -m needs CAP_SYS_ADMIN)";
  }
  // Keys that compress badly: far more than the one block the old record holds.
  std::string keys;
  for (unsigned i = 0; i < 1500; ++i) {
    keys += (i ? "," : "") + std::to_string(i * 2654435761u % 1000003u) + "x" + std::to_string(i * 40503u);
  }
  Plugin("one.json", Descriptor("", "", ""));
  box_.WriteFile("/old-record", "bootcrank.run-once=old1.0,\n");
  ASSERT_EQ(0, Shell("gzip -n '" + box_.Path("/old-record") + "'"));
  FullFileSystemRun run = RunWithFullFileSystem(box_, kRecord, box_.ReadFile("/old-record.gz"), "--run-once=" + keys);
  ASSERT_TRUE(run.ran);
  EXPECT_EQ("0\n", run.status) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "warning", "unable to write run-once record (" + box_.Path(kRecord) + "): " +
                                                std::strerror(ENOSPC) + "."))
      << run.out.substr(0, 3000);
  box_.WriteFile("/kept.gz", run.kept);
  EXPECT_EQ("bootcrank.run-once=old1.0,\n", Unzipped(box_, "/kept.gz"));
  EXPECT_EQ(".\n..\nbootcrnk.gz\nfiller\n", run.listing);
}

// A killed run leaves its temporary files beside the record and the log; the
// next run removes exactly those, and the rewritten record keeps its mode.
TEST_F(HostileHost, TemporaryFilesOfAKilledRunAreRemovedByTheNextRun) {
  const std::vector<std::string> leftovers{"/bootbank/bootcrnk.gz.a1B2c3", "/var/log/sysboot.log.Zz9Yy8"};
  const std::vector<std::string> others{"/bootbank/bootcrnk.gz.keep", "/bootbank/bootcrnk.gz.a1B2c3d",
                                        "/bootbank/bootcrnk.gz.a1B2-3", "/bootbank/other.gz.a1B2c3",
                                        "/var/log/sysboot.log.old"};
  for (const std::string& path : leftovers) box_.WriteFile(path, "half-written\n", 0600);
  for (const std::string& path : others) box_.WriteFile(path, "someone else's\n");
  box_.WriteFile(kRecord, "", 0640);
  Plugin("once.json", MarkingDescriptor("once", "", "true", "2"));

  RunResult run = box_.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  for (const std::string& path : leftovers) EXPECT_FALSE(box_.Exists(path)) << path;
  for (const std::string& path : others) EXPECT_EQ("someone else's\n", box_.ReadFile(path)) << path;
  EXPECT_EQ("bootcrank.run-once=once2,\n", Unzipped(box_, kRecord));
  EXPECT_EQ(0640, ModeOf(box_.Path(kRecord)));
}

// A process of another user listening at the control socket path, answering
// success to everything; what it receives goes into a pipe to the test.
class ForeignListener {
 public:
  explicit ForeignListener(const std::string& path) {
    if (pipe2(report_, O_CLOEXEC) != 0) return;
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    pid_ = fork();
    if (pid_ != 0) {
      close(report_[1]);
      return;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // The socket file is made as root; the listening is done as "nobody",
    // whose credentials the connecting side sees.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || setgid(65534) != 0 ||
        setuid(65534) != 0 || listen(fd, 16) != 0) {
      _exit(1);
    }
    (void)!write(report_[1], "L", 1);
    for (;;) {
      int connection = accept(fd, nullptr, nullptr);
      if (connection < 0) continue;
      char request[1024];
      ssize_t n = recv(connection, request, sizeof request, 0);
      if (n > 0) (void)!write(report_[1], request, static_cast<size_t>(n));
      int32_t success = 0;
      send(connection, &success, sizeof success, MSG_NOSIGNAL);
      close(connection);
    }
  }
  ~ForeignListener() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(report_[0]);
  }
  bool Listening() {
    char byte = 0;
    return pid_ > 0 && read(report_[0], &byte, 1) == 1 && byte == 'L';
  }
  // Everything received so far; the listener is stopped first.
  std::string Received() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    std::string text;
    char buffer[1024];
    for (ssize_t n; (n = read(report_[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
  }

 private:
  pid_t pid_ = -1;
  int report_[2] = {-1, -1};
};

TEST_F(HostileHost, ControlSocketServedByAnotherUserGetsNoCommand) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  Plugin("marked.json", MarkingDescriptor("marked"));
  ForeignListener listener(box_.Path(kSocket));
  ASSERT_TRUE(listener.Listening());

  RunResult run = box_.Run({});
  EXPECT_EQ("", listener.Received());
  EXPECT_EQ(1, run.status) << run.out << run.err;
  EXPECT_EQ(1, CountRecords(run.out, "error", "Refusing the executor control socket " + box_.Path(kSocket) +
                                                  ": it is served by uid 65534 (pid "))
      << run.out;
  EXPECT_TRUE(HasRecord(run.out, "warning", "Failed to start executor Bootcrank executor failed to start")) << run.out;
  EXPECT_FALSE(box_.Exists("/var/run/quarro/marked.ran"));
}

// A regular file, a dangling link or a link to a directory at the socket
// path is cleared by the executor that the run starts, once.
TEST_F(HostileHost, JunkAtTheControlSocketPathIsClearedAtTheFirstStart) {
  Plugin("marked.json", MarkingDescriptor("marked"));
  box_.MakeDirectory("/elsewhere");
  for (const std::string& junk : {std::string("touch"), std::string("ln -s /nonexistent/socket"),
                                 "ln -s '" + box_.Path("/elsewhere") + "'"}) {
    box_.Remove(kSocket);
    box_.Remove("/var/run/quarro/marked.ran");
    ASSERT_EQ(0, Shell(junk + " '" + box_.Path(kSocket) + "'"));
    RunResult run = box_.Run({});
    EXPECT_EQ(0, run.status) << junk << "\n" << run.out << run.err;
    EXPECT_TRUE(box_.Exists("/var/run/quarro/marked.ran")) << junk;
    EXPECT_EQ(1, CountRecords(run.out, "info", "Setting up Executor - Reset Requested")) << junk << "\n" << run.out;
  }
  EXPECT_TRUE(box_.Exists("/elsewhere"));
}

// The program is started with SIGPIPE and SIGHUP ignored and SIGUSR2 blocked
// (and ignores SIGPIPE itself): whatever it starts sees the defaults. The
// children are copies of one program that records its own signal state
// under its name (a shell in between would clear the mask itself).
TEST_F(HostileHost, ChildrenStartWithDefaultSignalDispositionsAndAnEmptyMask) {
  box_.WriteFile("/recorder.c",
                 "#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n"
                 "int main(int argc, char **argv) {\n"
                 "  const char *name = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];\n"
                 "  char path[4096], line[256];\n"
                 "  snprintf(path, sizeof path, \"%s/signals/%s\", getenv(\"BOOTCRANK_ROOT\"), name);\n"
                 "  FILE *in = fopen(\"/proc/self/status\", \"r\"), *out = fopen(path, \"w\");\n"
                 "  while (in && out && fgets(line, sizeof line, in))\n"
                 "    if (!strncmp(line, \"SigBlk:\", 7) || !strncmp(line, \"SigIgn:\", 7)) fputs(line, out);\n"
                 "  return !(argc > 0 && in && out && fclose(out) == 0);\n"
                 "}\n");
  ASSERT_EQ(0, Shell("cc -o '" + box_.Path("/recorder") + "' '" + box_.Path("/recorder.c") + "'"));
  box_.MakeDirectory("/signals");
  box_.MakeDirectory("/bin");
  for (const std::string program : {"/usr/lib/quarro/hvsyslog/bin/hvsyslogd", "/etc/init.d/evtd",
                                    "/usr/lib/quarro/hvsyslog/bin/upgrade-syslog.conf.sh", "/etc/init.d/webd",
                                    "/debug/debug", "/bin/listing"}) {
    box_.MakeDirectory(program.substr(0, program.rfind('/')));
    ASSERT_EQ(0, Shell("cp '" + box_.Path("/recorder") + "' '" + box_.Path(program) + "'")) << program;
  }
  box_.WriteFile("/etc/syslog.conf", "");
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf", "debug:none:debug-done:" + box_.Path("/debug/debug") + "\n");
  box_.WriteFile("/bin/chkconfig",
                 "#!/bin/sh\n'" + box_.Path("/bin/listing") + "'\necho '" + box_.Path("/etc/init.d/webd") + " 10'\n",
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
  // The listing tool runs through the shell, which clears the mask itself.
  for (const char* child : {"hvsyslogd", "evtd", "upgrade-syslog.conf.sh", "debug", "listing", "webd"}) {
    EXPECT_EQ("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n", box_.ReadFile(std::string("/signals/") + child))
        << child;
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
