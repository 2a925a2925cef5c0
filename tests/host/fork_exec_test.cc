// ForkExec with real programs: descriptors, directory, environment, and exec
// failures reported by the call.
#include "host/fork_exec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "support/temp_root.h"

namespace bootcrank::host {
namespace {

const int kRoot = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
const int kNull = open("/dev/null", O_RDWR | O_CLOEXEC);

// Starts argv[0] with `envp`, working directory `dir` and the descriptors
// `fds`; ForkExec's result. The child's pid lands in `pid`.
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

// What the child wrote on its descriptor 1 (a file in place of `fds[1]`), or
// "failed" unless it exited with status 0.
std::string Output(std::vector<std::string> argv, std::vector<std::string> envp, int dir,
                   std::vector<int32_t> fds) {
  testing::TempRoot scratch;
  fds[1] = open(scratch.Path("/out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  int32_t pid = -1, status = -1;
  if (Start(argv, envp, dir, fds, &pid) == 0) waitpid(pid, &status, 0);
  close(fds[1]);
  return status == 0 ? scratch.Read("/out") : "failed";
}

// kRoot and kNull are handed over crossed, each to the other's number.
TEST(ForkExecTest, SourceDescriptorsAmongTheTargetNumbersAreNotClobbered) {
  ASSERT_GT(std::min(kRoot, kNull), 2);
  std::vector<int32_t> fds(std::max(kRoot, kNull) + 1, kNull);
  fds[kNull] = kRoot;
  std::string fd = " /proc/$$/fd/", command = "/bin/readlink" + fd + std::to_string(kRoot) + fd;
  EXPECT_EQ("/dev/null\n/\n",
            Output({"/bin/sh", "-c", command + std::to_string(kNull)}, {}, kRoot, fds));
}

// A failed exec is the call's result, and the failed child is reaped too.
TEST(ForkExecTest, DirectoryEnvironmentAndExecFailure) {
  testing::TempRoot scratch;
  char resolved[PATH_MAX];
  ASSERT_TRUE(realpath(scratch.root.c_str(), resolved));
  int dir = open(resolved, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_EQ(std::string(resolved) + "\n", Output({"/bin/pwd"}, {}, dir, {kNull, -1, kNull}));
  EXPECT_EQ("A=1\nB=two words\n",
            Output({"/usr/bin/env"}, {"A=1", "B=two words"}, dir, {kNull, -1, kNull}));
  close(dir);
  int32_t pid = -1;
  EXPECT_EQ(ENOENT, Start({"/nonexistent/program"}, {}, kRoot, {kNull, kNull, kNull}, &pid));
  EXPECT_EQ(-1, pid);
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
}

}  // namespace
}  // namespace bootcrank::host
