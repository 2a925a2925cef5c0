// The executor's socket helpers with real sockets: whom the connector
// accepts, and what clearing a path for a listener removes.
#include "host/unix_socket.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "support/temp_root.h"

namespace bootcrank {
namespace host {
namespace {

// A socket listening at `path`; as "nobody" (uid 65534) in a child process
// when `foreign`. The child is killed with the object.
class Listener {
 public:
  Listener(const std::string& path, bool foreign) {
    UniqueFd fd = NewUnixStreamSocket();
    if (BindUnixSocket(fd.Get(), path) != 0) return;
    if (!foreign) {
      if (Listen(fd.Get(), 4) == 0) fd_ = std::move(fd);
      return;
    }
    int ready[2];
    if (pipe(ready) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      // Credentials count as they are at listen().
      if (setgid(65534) != 0 || setuid(65534) != 0 || Listen(fd.Get(), 4) != 0) _exit(1);
      (void)!write(ready[1], "L", 1);
      pause();
      _exit(0);
    }
    char byte = 0;
    close(ready[1]);
    listening_ = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
  }
  ~Listener() {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }
  bool Listening() const { return fd_.Valid() || listening_; }
  pid_t Pid() const { return child_ > 0 ? child_ : getpid(); }

 private:
  UniqueFd fd_;
  pid_t child_ = -1;
  bool listening_ = false;
};

int Connect(const std::string& path, PeerCredentials* peer) {
  UniqueFd fd = NewUnixStreamSocket();
  return ConnectUnixSocket(fd.Get(), path, peer);
}

TEST(UnixSocket, TheConnectorTakesOnlyAListenerOfItsOwnUser) {
  testing::TempRoot dir;
  std::string path = dir.Path("/socket");
  PeerCredentials peer;
  EXPECT_EQ(ENOENT, Connect(path, &peer));
  EXPECT_EQ(ENAMETOOLONG, Connect("/" + std::string(kMaxUnixSocketPath, 'x'), &peer));
  {
    Listener own(path, false);
    ASSERT_TRUE(own.Listening());
    EXPECT_EQ(0, Connect(path, &peer));
    EXPECT_EQ(geteuid(), peer.userId);
    EXPECT_EQ(getpid(), peer.processId);
    // The same listener through a link is not reached.
    ASSERT_EQ(0, symlink(path.c_str(), dir.Path("/link").c_str()));
    EXPECT_EQ(ELOOP, Connect(dir.Path("/link"), &peer));
  }
  if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  unlink(path.c_str());
  Listener foreign(path, true);
  ASSERT_TRUE(foreign.Listening());
  EXPECT_EQ(EPERM, Connect(path, &peer));
  EXPECT_EQ(65534u, peer.userId);
  EXPECT_EQ(foreign.Pid(), peer.processId);
}

TEST(UnixSocket, ClearingAPathRemovesWhatNoListenerUses) {
  testing::TempRoot dir;
  std::string path = dir.Path("/socket");
  struct Case {
    const char* what;
    std::function<void()> make;
    bool removed;
  };
  std::unique_ptr<Listener> live;
  const std::vector<Case> cases{
      {"stale socket", [&] { Listener(path, false); }, true},
      {"live socket", [&] { live = std::make_unique<Listener>(path, false); }, false},
      {"regular file", [&] { dir.Write("/socket", ""); }, true},
      {"dangling link", [&] { ASSERT_EQ(0, symlink("/nonexistent", path.c_str())); }, true},
      {"link to a directory", [&] { ASSERT_EQ(0, symlink(dir.root.c_str(), path.c_str())); }, true},
      {"directory", [&] { ASSERT_EQ(0, mkdir(path.c_str(), 0755)); }, false},
  };
  for (const Case& c : cases) {
    boost::filesystem::remove_all(path);
    live.reset();
    c.make();
    RemoveStaleSocket(path);
    struct stat st;
    EXPECT_EQ(c.removed, lstat(path.c_str(), &st) != 0) << c.what;
  }
  EXPECT_TRUE(boost::filesystem::exists(dir.root));
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
