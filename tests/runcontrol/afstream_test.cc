// afstream against real files: what the destination holds and which files
// exist after each way an object can end.
#include "runcontrol/afstream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "gtest/gtest.h"
#include "tests/runcontrol/temp_root.h"

namespace bootcrank {
namespace {

using testing::TempRoot;
using Names = std::vector<std::string>;

// The message of the runtime_error that `action` throws ("" if none).
template <typename Action>
std::string FailureOf(Action action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(AfstreamCommit, NewDestinationGetsContentAndMode0600) {
  TempRoot dir;
  std::string dest = dir.Path("new.log");
  {
    afstream out;
    out.open(dest.c_str(), std::ios_base::out);
    out << "first line\n";
    EXPECT_FALSE(boost::filesystem::exists(dest)) << "destination written before commit";
    out.commit();
  }
  EXPECT_EQ("first line\n", dir.Read("new.log"));
  EXPECT_EQ(0600u, dir.Mode("new.log"));
  EXPECT_EQ(Names{"new.log"}, dir.List());
}

TEST(AfstreamCommit, ExistingDestinationKeepsItsMode) {
  TempRoot dir;
  dir.Write("kept.log", "old content that is longer than the new one\n");
  chmod(dir.Path("kept.log").c_str(), 0644);
  {
    afstream out;
    out.open(dir.Path("kept.log").c_str(), std::ios_base::out);
    out << "new\n";
    out.commit();
  }
  EXPECT_EQ("new\n", dir.Read("kept.log"));
  EXPECT_EQ(0644u, dir.Mode("kept.log"));
}

TEST(AfstreamCommit, DefaultObjectHasNoDestination) {
  TempRoot dir;
  afstream out;
  EXPECT_EQ("commit invoked on an unknown destination", FailureOf([&] { out.commit(); }));
  EXPECT_TRUE(dir.List().empty());
}

TEST(AfstreamCommit, LaterCommitOfTwoWritersWins) {
  TempRoot dir;
  std::string dest = dir.Path("shared.log");
  afstream first, second;
  first.open(dest.c_str(), std::ios_base::out);
  second.open(dest.c_str(), std::ios_base::out);
  EXPECT_NE(first.tempPath, second.tempPath);
  first << "first\n";
  second << "second\n";
  first.commit();
  EXPECT_EQ("first\n", dir.Read("shared.log"));
  second.commit();
  EXPECT_EQ("second\n", dir.Read("shared.log"));
}

TEST(AfstreamCommit, RenameFailureNamesBothPathsAndKeepsDestination) {
  TempRoot dir;
  dir.MakeDirectory("busy/inner");  // rename(2) cannot replace a non-empty directory
  std::string dest = dir.Path("busy");
  {
    afstream out;
    out.open(dest.c_str(), std::ios_base::out);
    out << "data";
    std::string temp = out.tempPath;
    std::string message = FailureOf([&] { out.commit(); });
    EXPECT_EQ("unable to rename '" + temp + "' to '" + dest + "': " + std::strerror(EISDIR),
              message);
  }
  EXPECT_EQ(Names{"busy"}, dir.List());
  EXPECT_EQ(Names{"inner"}, dir.List("busy"));
}

// A child whose file size limit makes the writes fail part-way: the commit must
// refuse to put the truncated file in place.
TEST(AfstreamCommit, FailedWriteRefusesTheRename) {
  TempRoot dir;
  dir.Write("profile.log", "complete old log\n");
  std::string dest = dir.Path("profile.log");
  int pipeFds[2];
  ASSERT_EQ(0, pipe2(pipeFds, O_CLOEXEC));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);  // an oversized write then fails with EFBIG
    struct rlimit limit = {1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string message;
    {
      afstream out;
      out.open(dest.c_str(), std::ios_base::out);
      out << std::string(64 * 1024, 'x');
      message = FailureOf([&] { out.commit(); });
    }
    ssize_t ignored = write(pipeFds[1], message.data(), message.size());
    (void)ignored;
    _exit(0);
  }
  close(pipeFds[1]);
  std::string message;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) message.append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(std::string("failed to write to temp file: ") + std::strerror(EFBIG), message);
  EXPECT_EQ("complete old log\n", dir.Read("profile.log"));
  EXPECT_EQ(Names{"profile.log"}, dir.List());
}

TEST(AfstreamDiscard, DestructionWithoutCommitRemovesTheTemporaryFile) {
  TempRoot dir;
  dir.Write("boot.log", "old\n");
  std::string dest = dir.Path("boot.log");
  {
    afstream out;
    out.open(dest.c_str(), std::ios_base::out);
    out << "never committed\n";
    out.flush();
    // The temporary file: the destination, a dot and six characters.
    ASSERT_EQ(dest.size() + 7, out.tempPath.size());
    EXPECT_EQ(dest + ".", out.tempPath.substr(0, dest.size() + 1));
    EXPECT_EQ(dest, out.targetPath);
    EXPECT_EQ(0600u, dir.Mode(out.tempPath.substr(dir.Path().size() + 1)));
    EXPECT_EQ(2u, dir.List().size());
  }
  EXPECT_EQ(Names{"boot.log"}, dir.List());
  EXPECT_EQ("old\n", dir.Read("boot.log"));
}

TEST(AfstreamDiscard, StreamDescriptorIsCloseOnExec) {
  TempRoot dir;
  afstream out;
  out.open(dir.Path("x.log").c_str(), std::ios_base::out);
  int found = 0;
  for (const auto& entry : boost::filesystem::directory_iterator("/proc/self/fd")) {
    boost::system::error_code error;
    auto target = boost::filesystem::read_symlink(entry.path(), error);
    if (error || target.string() != out.tempPath) continue;
    int fd = std::stoi(entry.path().filename().string());
    ++found;
    EXPECT_NE(0, fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
  }
  EXPECT_EQ(1, found);
}

TEST(AfstreamOpen, MissingDirectoryIsReportedWithTheDestination) {
  TempRoot dir;
  std::string dest = dir.Path("absent/boot.log");
  afstream out;
  EXPECT_EQ("unable to create temporary file to write '" + dest + "': " +
                std::strerror(ENOENT),
            FailureOf([&] { out.open(dest.c_str(), std::ios_base::out); }));
  EXPECT_TRUE(out.tempPath.empty());
  EXPECT_EQ("commit invoked on an unknown destination", FailureOf([&] { out.commit(); }));
}

TEST(AfstreamReopen, AppendsToTheCurrentContent) {
  TempRoot dir;
  dir.Write("boot.log", "line one\nline two\n");
  chmod(dir.Path("boot.log").c_str(), 0644);
  {
    afstream out;
    out.reopen(dir.Path("boot.log").c_str(), std::ios_base::out);
    out << "x";
    out.commit();
  }
  EXPECT_EQ("line one\nline two\nx", dir.Read("boot.log"));
  EXPECT_EQ(0644u, dir.Mode("boot.log"));
}

TEST(AfstreamReopen, MissingOrEmptyDestinationFailsAndLeavesNothing) {
  TempRoot dir;
  {
    afstream out;
    EXPECT_EQ(std::string("failed to write to temp file: ") + std::strerror(ENOENT),
              FailureOf([&] { out.reopen(dir.Path("missing.log").c_str(), std::ios_base::out); }));
  }
  EXPECT_TRUE(dir.List().empty());

  dir.Write("empty.log", "");
  {
    afstream out;
    std::string message =
        FailureOf([&] { out.reopen(dir.Path("empty.log").c_str(), std::ios_base::out); });
    EXPECT_EQ(0u, message.find("failed to write to temp file: ")) << message;
  }
  EXPECT_EQ(Names{"empty.log"}, dir.List());
  EXPECT_EQ("", dir.Read("empty.log"));
}

}  // namespace
}  // namespace bootcrank
