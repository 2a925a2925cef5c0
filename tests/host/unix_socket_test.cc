// The executor's socket helpers with real sockets. A listener of another user
// is refused end to end (HostileHost.ControlSocketServedByAnotherUserGetsNoCommand).
#include "host/unix_socket.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <tuple>

#include "support/temp_root.h"

namespace bootcrank {
namespace host {
namespace {

UniqueFd ListenAt(const std::string& path) {
  UniqueFd fd = NewUnixStreamSocket();
  if (BindUnixSocket(fd.Get(), path) != 0 || Listen(fd.Get(), 4) != 0) return UniqueFd();
  return fd;
}

int Connect(const std::string& path, PeerCredentials* peer) {
  UniqueFd fd = NewUnixStreamSocket();
  return ConnectUnixSocket(fd.Get(), path, peer);
}

TEST(UnixSocket, TheConnectorReachesItsOwnListenerOnlyByItsPath) {
  testing::TempRoot dir;
  std::string path = dir.Path("/socket");
  PeerCredentials peer;
  EXPECT_EQ(ENOENT, Connect(path, &peer));
  EXPECT_EQ(ENAMETOOLONG, Connect("/" + std::string(kMaxUnixSocketPath, 'x'), &peer));
  UniqueFd own = ListenAt(path);
  ASSERT_TRUE(own.Valid());
  EXPECT_EQ(0, Connect(path, &peer));
  EXPECT_EQ(geteuid(), peer.userId);
  EXPECT_EQ(getpid(), peer.processId);
  ASSERT_EQ(0, symlink(path.c_str(), dir.Path("/link").c_str()));
  EXPECT_EQ(ELOOP, Connect(dir.Path("/link"), &peer));
}

TEST(UnixSocket, ClearingAPathRemovesWhatNoListenerUses) {
  testing::TempRoot dir;
  std::string path = dir.Path("/socket");
  UniqueFd live;
  const std::vector<std::tuple<const char*, std::function<void()>, bool>> cases{
      {"stale socket", [&] { ListenAt(path); }, true},
      {"live socket", [&] { live = ListenAt(path); }, false},
      {"regular file", [&] { dir.Write("/socket", ""); }, true},
      {"dangling link", [&] { ASSERT_EQ(0, symlink("/nonexistent", path.c_str())); }, true},
      {"link to a directory", [&] { ASSERT_EQ(0, symlink(dir.root.c_str(), path.c_str())); }, true},
      {"directory", [&] { ASSERT_EQ(0, mkdir(path.c_str(), 0755)); }, false},
  };
  for (const auto& [what, make, removed] : cases) {
    boost::filesystem::remove_all(path);
    live = UniqueFd();
    make();
    RemoveStaleSocket(path);
    struct stat st;
    EXPECT_EQ(removed, lstat(path.c_str(), &st) != 0) << what;
  }
  EXPECT_TRUE(boost::filesystem::exists(dir.root));
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
