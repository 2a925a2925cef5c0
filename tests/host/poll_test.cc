#include "host/poll.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

namespace {

// Its callback reads a byte and sets the exit flag after `stopAfter` calls.
struct Pipe {
  Pipe() { EXPECT_EQ(0, pipe2(fd, O_CLOEXEC)); }
  ~Pipe() { close(fd[0]), close(fd[1]); }
  static void ReadOne(void* data) {
    Pipe* p = static_cast<Pipe*>(data);
    char byte;
    EXPECT_EQ(1, read(p->fd[0], &byte, 1));
    p->exit = ++p->calls >= p->stopAfter;
  }
  int Register(int flags) {
    return Poll_Callback(POLL_CS_MAIN, flags, ReadOne, this, POLL_DEVICE, fd[0], nullptr);
  }
  int Remove(int flags) { return Poll_CallbackRemove(POLL_CS_MAIN, flags, ReadOne, this, POLL_DEVICE); }
  int fd[2], calls = 0, stopAfter = 1;
  bool exit = false;
};

constexpr int kPeriodic = POLL_FLAG_READ | POLL_FLAG_PERIODIC;

// Both pipes are ready from the start: the one-shot callback runs once, the
// periodic one on every readiness until it sets the flag.
TEST(Poll, CallbacksRunOnReadinessUntilTheFlagIsSet) {
  Poll_InitDefault();
  Pipe periodic, once;
  periodic.stopAfter = 3;
  ASSERT_EQ(0, periodic.Register(kPeriodic));
  EXPECT_EQ(-1, periodic.Register(kPeriodic));  // already registered
  ASSERT_EQ(0, once.Register(POLL_FLAG_READ));
  EXPECT_TRUE(write(periodic.fd[1], "xxxx", 4) == 4 && write(once.fd[1], "xx", 2) == 2);
  Poll_Loop(1, &periodic.exit, POLL_CLASS_MAIN);
  EXPECT_EQ(3, periodic.calls);
  EXPECT_EQ(1, once.calls);
  EXPECT_EQ(0, once.Remove(POLL_FLAG_READ));
  EXPECT_EQ(1, periodic.Remove(kPeriodic));
  // A descriptor found closed is dropped instead of being reported forever.
  ASSERT_EQ(0, once.Register(kPeriodic));
  close(once.fd[0]);
  once.fd[0] = -1;
  Poll_Loop(0, nullptr, POLL_CLASS_MAIN);
  EXPECT_EQ(0, once.Remove(kPeriodic));
}

// The loop starts with nothing registered and can only learn of the
// registration through the wake-up.
TEST(Poll, NotifyChangeMakesAWaitingLoopSeeANewRegistration) {
  Poll_InitDefault();
  Pipe p;
  std::thread loop([&p] { Poll_Loop(1, &p.exit, POLL_CLASS_MAIN); });
  ASSERT_EQ(0, p.Register(kPeriodic));
  Poll_NotifyChange(POLL_CS_MAIN);
  EXPECT_EQ(1, write(p.fd[1], "x", 1));
  loop.join();
  EXPECT_EQ(1, p.calls);
  EXPECT_EQ(1, p.Remove(kPeriodic));
}

}  // namespace
