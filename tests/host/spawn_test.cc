// The spawn path with real children: the shell runner against system(3) and
// the shell's output. Helper programs, and the signal state children get, are
// checked end to end (HostileHost.ChildrenStartWithDefaultSignalDispositionsAndAnEmptyMask).
#include "host/spawn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "host/open_file.h"
#include "support/temp_root.h"

namespace bootcrank::host {
namespace {

// The wait status is the one system(3) gives, for every way a command ends.
TEST(Spawn, ShellCommandsEndWithTheWaitStatusOfSystem) {
  for (const char* command :
       {"true", "exit 3", "kill -9 $$", "exec /nonexistent/program", "-v", "echo -n"}) {
    EXPECT_EQ(system(command), RunShellCommand(command)) << command;
  }
}

// Standard output alone replaces `output`.
TEST(Spawn, ShellOutputIsReadToItsEndWhateverTheStatus) {
  std::string output = "old";
  EXPECT_TRUE(ReadShellCommandOutput("printf 'a b\\n'; echo lost >&2; exit 4", &output));
  EXPECT_EQ("a b\n", output);
}

// Every way the host helpers open a file marks the descriptor close-on-exec
// (the spawn paths close the others too, but an exec elsewhere would not).
TEST(Spawn, DescriptorsOpenedByTheHostHelpersAreCloseOnExec) {
  testing::TempRoot root;
  root.Write("/file", "x");
  std::ofstream buffered(root.Path("/buffered"));
  MarkCloseOnExec(*buffered.rdbuf());
  int plain = OpenWithoutWaiting(root.Path("/file"), O_RDONLY);
  int regular = OpenRegularFile(root.Path("/file"));
  int found = 0;
  for (const auto& entry : boost::filesystem::directory_iterator("/proc/self/fd")) {
    boost::system::error_code ignored;
    if (boost::filesystem::read_symlink(entry.path(), ignored).string().rfind(root.root, 0) != 0) {
      continue;
    }
    ++found;
    int fd = std::stoi(entry.path().filename().string());
    EXPECT_NE(0, fcntl(fd, F_GETFD) & FD_CLOEXEC) << entry.path();
  }
  EXPECT_EQ(3, found);
  close(plain);
  close(regular);
}

}  // namespace
}  // namespace bootcrank::host
