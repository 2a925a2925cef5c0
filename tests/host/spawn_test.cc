// The spawn path with real children: the shell runner against system(3),
// the shell's output and helper programs. The signal state children get is
// checked end to end (HostileHost.ChildrenStartWithDefaultSignalDispositionsAndAnEmptyMask).
#include "host/spawn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "host/logging.h"
#include "host/open_file.h"
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

// Every way the host helpers open a file marks the descriptor close-on-exec
// (the spawn paths close the others too, but an exec elsewhere would not).
TEST(Spawn, DescriptorsOpenedByTheHostHelpersAreCloseOnExec) {
  testing::TempRoot root;
  root.Write("/file", "x");
  std::ofstream buffered(root.Path("/buffered"));
  MarkCloseOnExec(*buffered.rdbuf());
  int plain = OpenWithoutWaiting(root.Path("/file"), O_RDONLY), regular = OpenRegularFile(root.Path("/file"));
  int found = 0;
  for (const auto& entry : boost::filesystem::directory_iterator("/proc/self/fd")) {
    boost::system::error_code ignored;
    if (boost::filesystem::read_symlink(entry.path(), ignored).string().rfind(root.root, 0) != 0) continue;
    ++found;
    EXPECT_NE(0, fcntl(std::stoi(entry.path().filename().string()), F_GETFD) & FD_CLOEXEC) << entry.path();
  }
  EXPECT_EQ(3, found);
  close(plain);
  close(regular);
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
