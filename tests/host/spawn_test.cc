// The spawn path with real children: the shell runner against system(3),
// the shell's output, helper programs, and the signal state children get.
#include "host/spawn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/logging.h"
#include "host/process.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace host {
namespace {

// The wait status is the one system(3) gives, for every way a command ends.
TEST(Spawn, ShellCommandsEndWithTheWaitStatusOfSystem) {
  for (const char* command : {"true", "exit 3", "kill -9 $$", "exec /nonexistent/program", "-v", "echo -n"}) {
    EXPECT_EQ(system(command), RunShellCommand(command)) << command;
  }
}

TEST(Spawn, ShellOutputIsReadToItsEndWhateverTheStatus) {
  std::string output;
  EXPECT_TRUE(ReadShellCommandOutput("printf 'a b\\n'; exit 4", &output));
  EXPECT_EQ("a b\n", output);
  EXPECT_TRUE(ReadShellCommandOutput("echo lost >&2; exec /nonexistent/program 2>/dev/null", &output));
  EXPECT_EQ("", output);
}

TEST(Spawn, HelperProgramsSucceedOnlyWithStatusZero) {
  testing::TempRoot root;
  std::string script = root.Script("/args", "[ \"$1\" = one ] && [ -z \"$HOME\" ] && exec cat");
  char* empty[] = {nullptr};
  char* home[] = {const_cast<char*>("HOME=/root"), nullptr};
  auto run = [&](std::string program, std::string argument, char** envp) {
    char* argv[] = {&program[0], &argument[0], nullptr};
    return SpawnAndWait(argv, envp);
  };
  InitLogging("bootcrank");
  testing::LogCapture log;
  EXPECT_TRUE(run(script, "one", empty));  // standard input is /dev/null: cat ends
  EXPECT_FALSE(run(script, "two", empty));
  EXPECT_FALSE(run(script, "one", home));
  EXPECT_FALSE(run("/nonexistent/program", "one", empty));
  // Like the message of a child whose output is /dev/null, the exec failure
  // goes to the system log only: the run's own output stays clean.
  EXPECT_EQ(std::vector<std::string>{}, log.Messages("error"));
}

// With SIGPIPE ignored and SIGUSR2 blocked here, a child still starts with
// every disposition at its default (the C library's own signals too) and
// nothing blocked.
TEST(Spawn, ChildrenStartWithDefaultSignalsAndAnEmptyMask) {
  testing::TempRoot root;
  int out = open(root.Path("/signals").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(out, 0);
  struct sigaction ignore = {}, saved;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &saved);
  sigset_t usr2, savedMask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  sigprocmask(SIG_BLOCK, &usr2, &savedMask);
  char* argv[] = {const_cast<char*>("grep"), const_cast<char*>("-E"), const_cast<char*>("^Sig(Blk|Ign)"),
                  const_cast<char*>("/proc/self/status"), nullptr};
  char* envp[] = {nullptr};
  const int stdio[3] = {0, out, 2};
  pid_t pid = -1;
  int error = Spawn("/bin/grep", argv, envp, stdio, &pid);
  sigprocmask(SIG_SETMASK, &savedMask, nullptr);
  sigaction(SIGPIPE, &saved, nullptr);
  close(out);
  ASSERT_EQ(0, error);
  int status = -1;
  ASSERT_EQ(pid, WaitForChild(pid, &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n", root.Read("/signals"));
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
