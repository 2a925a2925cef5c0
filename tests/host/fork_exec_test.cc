// ForkExec with real programs: descriptors, directory, environment, ids,
// signal state, and exec failures reported by the call.

#include "host/fork_exec.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemons/script_root.h"

namespace bootcrank {
namespace host {
namespace {

using testing::KillAndReap;
using testing::OpenDescriptors;
using testing::ScriptRoot;

// An argument or environment vector that owns its strings.
class Vector {
 public:
  Vector(std::initializer_list<std::string> words) : words_(words) {
    for (std::string& word : words_) pointers_.push_back(&word[0]);
    pointers_.push_back(nullptr);
  }
  char* const* get() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

struct Pipe {
  Pipe() {
    if (pipe2(fds, O_CLOEXEC) != 0) abort();
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (fds[0] >= 0) close(fds[0]);
    fds[0] = -1;
  }
  void CloseWrite() {
    if (fds[1] >= 0) close(fds[1]);
    fds[1] = -1;
  }
  std::string ReadAll() {
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
    return text;
  }
  int fds[2];
};

// The children of the calling thread, as the kernel lists them.
std::string Children() {
  std::ifstream in("/proc/self/task/" + std::to_string(syscall(SYS_gettid)) + "/children");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int ExitCode(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class ForkExecTest : public ::testing::Test {
 protected:
  ForkExecTest() {
    root_ = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    null_ = open("/dev/null", O_RDWR | O_CLOEXEC);
  }
  ~ForkExecTest() override {
    close(root_);
    close(null_);
  }

  // Runs `argv` with `envp` and standard streams `fds`, in `directory`
  // ("/" when -1). Returns ForkExec's result; the pid lands in pid_.
  int Start(const char* path, Vector argv, Vector envp, std::vector<int32_t> fds,
            int directory = -1, uint32_t uid = getuid(), uint32_t gid = getgid()) {
    ForkExecOptions options = {static_cast<uint32_t>(fds.size()), uid, gid, 0, &pid_};
    pid_ = -1;
    return ForkExec(path, argv.get(), envp.get(), directory < 0 ? root_ : directory,
                    fds.data(), &options);
  }

  // Runs `argv` to its end with standard input on /dev/null; its output.
  std::string Output(const char* path, Vector argv, Vector envp = {}, int directory = -1,
                     uint32_t uid = getuid(), uint32_t gid = getgid()) {
    Pipe out;
    int result = Start(path, std::move(argv), std::move(envp), {null_, out.fds[1], null_},
                       directory, uid, gid);
    out.CloseWrite();
    if (result != 0) return "ForkExec failed: " + std::to_string(result);
    std::string text = out.ReadAll();
    EXPECT_EQ(0, ExitCode(pid_));
    return text;
  }

  int root_;
  int null_;
  int32_t pid_ = -1;
};

TEST_F(ForkExecTest, ChildRunsWithTheGivenStreamsAndReportsItsPid) {
  Pipe in;
  Pipe out;
  ASSERT_EQ(0, Start("/bin/sh", {"sh", "-c", "echo $$; cat; echo err >&2"}, {},
                     {in.fds[0], out.fds[1], out.fds[1]}));
  in.CloseRead();
  out.CloseWrite();
  ASSERT_GT(pid_, 0);
  ASSERT_EQ(6, write(in.fds[1], "hello\n", 6));
  in.CloseWrite();
  EXPECT_EQ(std::to_string(pid_) + "\nhello\nerr\n", out.ReadAll());
  EXPECT_EQ(0, ExitCode(pid_));
}

TEST_F(ForkExecTest, SourceDescriptorsAmongTheTargetNumbersAreNotClobbered) {
  // The caller's own 0 and 1 are handed over crossed: its 1 becomes the
  // child's standard input and its 0 the child's standard output. Done in a
  // helper process so that this test's own streams stay as they are.
  Pipe in;
  Pipe out;
  pid_t helper = fork();
  ASSERT_GE(helper, 0);
  if (helper == 0) {
    dup2(out.fds[1], STDIN_FILENO);
    dup2(in.fds[0], STDOUT_FILENO);
    // Only the crossed copies may keep the pipes open, or cat never sees
    // the end of its input.
    for (int fd : {in.fds[0], in.fds[1], out.fds[0], out.fds[1]}) close(fd);
    int32_t pid = -1;
    int32_t fds[3] = {STDOUT_FILENO, STDIN_FILENO, STDERR_FILENO};
    ForkExecOptions options = {3, getuid(), getgid(), 0, &pid};
    Vector argv{"cat"};
    Vector envp{};
    if (ForkExec("/bin/cat", argv.get(), envp.get(), root_, fds, &options) != 0) _exit(100);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    _exit(ExitCode(pid));
  }
  in.CloseRead();
  out.CloseWrite();
  ASSERT_EQ(5, write(in.fds[1], "swap\n", 5));
  in.CloseWrite();
  EXPECT_EQ("swap\n", out.ReadAll());
  EXPECT_EQ(0, ExitCode(helper));
}

TEST_F(ForkExecTest, WorkingDirectoryComesFromTheDirectoryDescriptor) {
  ScriptRoot scratch;
  char resolved[PATH_MAX];
  ASSERT_NE(nullptr, realpath(scratch.Path("").c_str(), resolved));
  int directory = open(resolved, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  EXPECT_EQ(std::string(resolved) + "\n", Output("/bin/pwd", {"pwd"}, {}, directory));
  EXPECT_EQ("/\n", Output("/bin/pwd", {"pwd"}));
  close(directory);
}

TEST_F(ForkExecTest, EnvironmentIsExactlyTheGivenOne) {
  EXPECT_EQ("A=1\nB=two words\n", Output("/usr/bin/env", {"env"}, {"A=1", "B=two words"}));
  EXPECT_EQ("", Output("/usr/bin/env", {"env"}));
}

TEST_F(ForkExecTest, OnlyTheGivenDescriptorsReachTheProgram) {
  int inheritable = open("/dev/zero", O_RDONLY);
  ASSERT_GE(inheritable, 0);
  ASSERT_EQ(0, Start("/bin/sleep", {"sleep", "60"}, {}, {null_, null_, null_}));
  pid_t full = pid_;
  ASSERT_EQ(0, Start("/bin/sleep", {"sleep", "60"}, {}, {null_, -1, null_}));
  pid_t gap = pid_;
  close(inheritable);
  // ForkExec returns after the exec, so these are sleep's own descriptors.
  EXPECT_EQ((std::set<int>{0, 1, 2}), OpenDescriptors(std::to_string(full)));
  EXPECT_EQ((std::set<int>{0, 2}), OpenDescriptors(std::to_string(gap)));
  KillAndReap(full);
  KillAndReap(gap);
}

TEST_F(ForkExecTest, SignalsStartUnblockedWithDefaultActions) {
  struct sigaction ignore = {};
  struct sigaction previous;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  sigset_t usr1;
  sigset_t oldMask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &oldMask);

  std::string status = Output("/bin/grep", {"grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"});

  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_EQ("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n", status);
}

TEST_F(ForkExecTest, UserAndGroupIdsAreApplied) {
  if (getuid() == 0) {
    EXPECT_EQ("65534\n65534\n",
              Output("/bin/sh", {"sh", "-c", "id -u; id -g"}, {"PATH=/usr/bin:/bin"}, -1,
                     65534, 65534));
  } else {
    // Without privilege another user cannot be taken on; the call says so.
    EXPECT_EQ("ForkExec failed: " + std::to_string(EPERM),
              Output("/bin/true", {"true"}, {}, -1, 0, getgid()));
  }
  // The caller's own ids need no privilege.
  EXPECT_EQ(std::to_string(getuid()) + "\n", Output("/usr/bin/id", {"id", "-u"}));
}

TEST_F(ForkExecTest, FailuresAreReportedByTheCallAndLeaveNoChild) {
  ScriptRoot scratch;
  scratch.Write("/plain", "#!/bin/sh\n", 0644);
  int file = open(scratch.Path("/plain").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  std::string children = Children();
  std::set<int> descriptors = OpenDescriptors();

  EXPECT_EQ(ENOENT, Start("/nonexistent/program", {"x"}, {}, {null_, null_, null_}));
  EXPECT_EQ(EACCES, Start(scratch.Path("/plain").c_str(), {"x"}, {}, {null_, null_, null_}));
  EXPECT_EQ(ENOTDIR, Start("/bin/true", {"true"}, {}, {null_, null_, null_}, file));
  EXPECT_EQ(EBADF, Start("/bin/true", {"true"}, {}, {null_, 9999, null_}));
  EXPECT_EQ(-1, pid_) << "no pid is reported for a failed start";

  EXPECT_EQ(children, Children()) << "failed children must have been reaped";
  EXPECT_EQ(descriptors, OpenDescriptors());
  close(file);
}

TEST_F(ForkExecTest, MalformedRequestsAreRefusedBeforeForking) {
  Vector argv{"true"};
  Vector envp{};
  int32_t fds[3] = {null_, null_, null_};
  ForkExecOptions noPid = {3, getuid(), getgid(), 0, nullptr};
  EXPECT_EQ(EINVAL, ForkExec("/bin/true", argv.get(), envp.get(), root_, fds, &noPid));
  int32_t pid = -1;
  ForkExecOptions tooMany = {65, getuid(), getgid(), 0, &pid};
  EXPECT_EQ(EINVAL, ForkExec("/bin/true", argv.get(), envp.get(), root_, fds, &tooMany));
  EXPECT_EQ(-1, pid);
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
