// The executor's socket helpers with real sockets. A listener of another user,
// and junk at the socket path, are met end to end (HostileHost.*).
#include "host/unix_socket.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/temp_root.h"

namespace bootcrank::host {
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

// A socket nobody listens on goes; one a listener uses, and a directory, stay.
TEST(UnixSocket, ClearingAPathRemovesWhatNoListenerUses) {
  testing::TempRoot dir;
  ListenAt(dir.Path("/stale"));
  UniqueFd live = ListenAt(dir.Path("/live"));
  ASSERT_EQ(0, mkdir(dir.Path("/directory").c_str(), 0755));
  for (const char* name : {"stale", "live", "directory"}) RemoveStaleSocket(dir.Path(name));
  EXPECT_EQ((std::set<std::string>{"directory", "live"}), dir.List());
}

}  // namespace
}  // namespace bootcrank::host
