// ForkExec with real programs: descriptors, directory, environment, and exec
// failures reported by the call.
#include "host/fork_exec.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

#include <gtest/gtest.h>

namespace bootcrank {
namespace host {
namespace {

// Starts argv[0] with `argv`, `envp`, working directory `dir` and the
// descriptors `fds`; ForkExec's result. The child's pid lands in `pid`.
int Start(std::vector<std::string> argv, std::vector<std::string> envp, int dir,
          std::vector<int32_t> fds, int32_t* pid) {
  std::vector<char*> args, env;
  for (std::string& word : argv) args.push_back(&word[0]);
  for (std::string& word : envp) env.push_back(&word[0]);
  args.push_back(nullptr);
  env.push_back(nullptr);
  ForkExecOptions options = {static_cast<uint32_t>(fds.size()), getuid(), getgid(), 0, pid};
  return ForkExec(args[0], args.data(), env.data(), dir, fds.data(), &options);
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fd);
  return text;
}

int Wait(pid_t pid) {
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

// Opened once for the whole program.
const int kRoot = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
const int kNull = open("/dev/null", O_RDWR | O_CLOEXEC);

// Runs the program to its end; its standard output.
std::string Output(std::vector<std::string> argv, std::vector<std::string> envp, int dir) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return "pipe2 failed";
  int32_t pid = -1;
  int result = Start(argv, envp, dir, {kNull, out[1], kNull}, &pid);
  close(out[1]);
  std::string text = ReadAll(out[0]);
  if (result != 0) return "ForkExec failed: " + std::to_string(result);
  EXPECT_EQ(0, Wait(pid));
  return text;
}

TEST(ForkExecTest, SourceDescriptorsAmongTheTargetNumbersAreNotClobbered) {
  // A helper hands its 0 and 1 over crossed: its 1 becomes the child's
  // standard input and its 0 the child's standard output.
  int in[2], out[2];
  ASSERT_EQ(0, pipe2(in, O_CLOEXEC));
  ASSERT_EQ(0, pipe2(out, O_CLOEXEC));
  pid_t helper = fork();
  ASSERT_GE(helper, 0);
  if (helper == 0) {
    dup2(out[1], STDIN_FILENO);
    dup2(in[0], STDOUT_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);  // or cat never sees the end
    int32_t pid = -1;
    if (Start({"/bin/cat"}, {}, kRoot, {STDOUT_FILENO, STDIN_FILENO, STDERR_FILENO}, &pid) != 0) {
      _exit(100);
    }
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    _exit(Wait(pid) == 0 ? 0 : 101);
  }
  close(in[0]);
  close(out[1]);
  ASSERT_EQ(5, write(in[1], "swap\n", 5));
  close(in[1]);
  EXPECT_EQ("swap\n", ReadAll(out[0]));
  EXPECT_EQ(0, Wait(helper));
}

TEST(ForkExecTest, DirectoryAndEnvironmentAreExactlyTheGivenOnes) {
  char scratch[] = "/tmp/bootcrank-fork-exec-XXXXXX";
  char resolved[PATH_MAX];
  ASSERT_NE(nullptr, mkdtemp(scratch));
  ASSERT_NE(nullptr, realpath(scratch, resolved));
  int dir = open(resolved, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_EQ(std::string(resolved) + "\n", Output({"/bin/pwd"}, {}, dir));
  EXPECT_EQ("A=1\nB=two words\n", Output({"/usr/bin/env"}, {"A=1", "B=two words"}, dir));
  EXPECT_EQ("", Output({"/usr/bin/env"}, {}, dir));
  close(dir);
  rmdir(scratch);
}

TEST(ForkExecTest, MissingProgramIsReportedByTheCallAndLeavesNoChild) {
  // The children of the calling thread, as the kernel lists them.
  std::string list = "/proc/self/task/" + std::to_string(syscall(SYS_gettid)) + "/children";
  auto children = [&] { return ReadAll(open(list.c_str(), O_RDONLY | O_CLOEXEC)); };
  std::string before = children();
  int32_t pid = -1;
  EXPECT_EQ(ENOENT, Start({"/nonexistent/program"}, {}, kRoot, {kNull, kNull, kNull}, &pid));
  EXPECT_EQ(-1, pid) << "no pid is reported for a failed start";
  EXPECT_EQ(before, children()) << "the failed child must have been reaped";
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
