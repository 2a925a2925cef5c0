// ForkExec with real programs: descriptors, directory, environment, and exec
// failures reported by the call.
#include "host/fork_exec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

#include "support/temp_root.h"

namespace bootcrank {
namespace host {
namespace {

const int kRoot = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
const int kNull = open("/dev/null", O_RDWR | O_CLOEXEC);

// Starts argv[0] with `envp`, working directory `dir` and the descriptors
// `fds`; ForkExec's result. The child's pid lands in `pid`.
int Start(std::vector<std::string> argv, std::vector<std::string> envp, int dir, std::vector<int32_t> fds,
          int32_t* pid) {
  std::vector<char*> args, env;
  for (std::string& word : argv) args.push_back(&word[0]);
  for (std::string& word : envp) env.push_back(&word[0]);
  args.push_back(nullptr);
  env.push_back(nullptr);
  ForkExecOptions options = {static_cast<uint32_t>(fds.size()), getuid(), getgid(), 0, pid};
  return ForkExec(args[0], args.data(), env.data(), dir, fds.data(), &options);
}

std::string ReadAndClose(int fd) {
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
    if (Start({"/bin/cat"}, {}, kRoot, {STDOUT_FILENO, STDIN_FILENO, STDERR_FILENO}, &pid) != 0) _exit(100);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    _exit(Wait(pid) == 0 ? 0 : 101);
  }
  close(in[0]);
  close(out[1]);
  ASSERT_EQ(5, write(in[1], "swap\n", 5));
  close(in[1]);
  EXPECT_EQ("swap\n", ReadAndClose(out[0]));
  EXPECT_EQ(0, Wait(helper));
}

// A failed exec is the call's result, and the failed child is reaped too.
TEST(ForkExecTest, DirectoryEnvironmentAndExecFailure) {
  testing::TempRoot scratch;
  char resolved[PATH_MAX];
  ASSERT_TRUE(realpath(scratch.root.c_str(), resolved));
  int dir = open(resolved, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  auto output = [dir](std::vector<std::string> argv, std::vector<std::string> envp) {
    int out[2];
    int32_t pid = -1;
    EXPECT_EQ(0, pipe2(out, O_CLOEXEC));
    EXPECT_EQ(0, Start(argv, envp, dir, {kNull, out[1], kNull}, &pid));
    close(out[1]);
    std::string text = ReadAndClose(out[0]);
    return Wait(pid) == 0 ? text : "failed: " + text;
  };
  EXPECT_EQ(std::string(resolved) + "\n", output({"/bin/pwd"}, {}));
  EXPECT_EQ("A=1\nB=two words\n", output({"/usr/bin/env"}, {"A=1", "B=two words"}));
  close(dir);
  int32_t pid = -1;
  EXPECT_EQ(ENOENT, Start({"/nonexistent/program"}, {}, kRoot, {kNull, kNull, kNull}, &pid));
  EXPECT_EQ(-1, pid);
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
