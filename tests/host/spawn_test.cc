// The spawn path with real children: the shell runner against system(3),
// the shell's output and helper programs. The signal state children get is
// checked end to end (HostileHost.ChildrenStartWithDefaultSignalDispositionsAndAnEmptyMask).
#include "host/spawn.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "host/logging.h"
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

}  // namespace
}  // namespace host
}  // namespace bootcrank
