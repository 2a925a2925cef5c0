// The event-poll loop: readiness callbacks, removal, periodic registrations
// and wake-ups from another thread, on real pipes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "host/poll.h"

namespace {

struct Pipe {
  Pipe() { EXPECT_EQ(0, pipe2(fd, O_CLOEXEC)); }
  ~Pipe() {
    close(fd[0]);
    close(fd[1]);
  }
  void Put() { EXPECT_EQ(1, write(fd[1], "x", 1)); }
  int fd[2];
};

// Reads one byte from the pipe, counts the call, and asks the loop to leave
// after `stopAfter` calls.
struct Reader {
  int fd;
  int calls = 0;
  int stopAfter = 1;
  bool* exit = nullptr;
};

void ReadOne(void* data) {
  Reader* r = static_cast<Reader*>(data);
  char byte;
  EXPECT_EQ(1, read(r->fd, &byte, 1));
  if (++r->calls >= r->stopAfter && r->exit != nullptr) *r->exit = true;
}

constexpr int kPeriodic = POLL_FLAG_READ | POLL_FLAG_PERIODIC;

TEST(PollTest, RejectsInvalidRegistrations) {
  Pipe p;
  Reader r{p.fd[0]};
  Poll_InitDefault();
  int lock = 0;
  EXPECT_EQ(-1, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE, -1, nullptr));
  EXPECT_EQ(-1, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, 1, p.fd[0], nullptr));
  EXPECT_EQ(-1, Poll_Callback(POLL_CS_MAIN, POLL_FLAG_PERIODIC, ReadOne, &r, POLL_DEVICE,
                              p.fd[0], nullptr));
  EXPECT_EQ(-1, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE, p.fd[0], &lock));
  EXPECT_EQ(0, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE, p.fd[0], nullptr));
  EXPECT_EQ(-1, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE, p.fd[0], nullptr));
  EXPECT_EQ(1, Poll_CallbackRemove(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE));
  EXPECT_EQ(0, Poll_CallbackRemove(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE));
}

TEST(PollTest, PeriodicCallbackRunsForEveryReadinessUntilTheFlagIsSet) {
  Pipe p;
  bool exit = false;
  Reader r{p.fd[0], 0, 3, &exit};
  Poll_InitDefault();
  ASSERT_EQ(0, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE, p.fd[0], nullptr));
  for (int i = 0; i < 3; ++i) p.Put();
  Poll_Loop(1, &exit, POLL_CLASS_MAIN);
  EXPECT_EQ(3, r.calls);
  EXPECT_EQ(1, Poll_CallbackRemove(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE));
}

TEST(PollTest, OneShotCallbackIsRemovedAfterItsCall) {
  Pipe p;
  Reader r{p.fd[0]};
  Poll_InitDefault();
  ASSERT_EQ(0, Poll_Callback(POLL_CS_MAIN, POLL_FLAG_READ, ReadOne, &r, POLL_DEVICE, p.fd[0],
                             nullptr));
  p.Put();
  Poll_Loop(0, nullptr, POLL_CLASS_MAIN);
  EXPECT_EQ(1, r.calls);
  EXPECT_EQ(0, Poll_CallbackRemove(POLL_CS_MAIN, POLL_FLAG_READ, ReadOne, &r, POLL_DEVICE));
}

TEST(PollTest, NotifyChangeMakesAWaitingLoopSeeANewRegistration) {
  Pipe p;
  bool exit = false;  // written by the callback, on the loop's own thread
  Reader r{p.fd[0], 0, 1, &exit};
  Poll_InitDefault();
  // The loop starts with nothing registered; it can only learn of the
  // registration below through the wake-up.
  std::thread loop([&exit] { Poll_Loop(1, &exit, POLL_CLASS_MAIN); });
  ASSERT_EQ(0, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE, p.fd[0], nullptr));
  Poll_NotifyChange(POLL_CS_MAIN);
  p.Put();
  loop.join();
  EXPECT_EQ(1, r.calls);
  EXPECT_EQ(1, Poll_CallbackRemove(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE));
}

TEST(PollTest, ClosedDescriptorIsDroppedInsteadOfSpinning) {
  int fd[2];
  ASSERT_EQ(0, pipe2(fd, O_CLOEXEC));
  Reader r{fd[0]};
  Poll_InitDefault();
  ASSERT_EQ(0, Poll_Callback(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE, fd[0], nullptr));
  close(fd[0]);
  close(fd[1]);
  Poll_Loop(0, nullptr, POLL_CLASS_MAIN);
  EXPECT_EQ(0, r.calls);
  EXPECT_EQ(0, Poll_CallbackRemove(POLL_CS_MAIN, kPeriodic, ReadOne, &r, POLL_DEVICE));
}

}  // namespace
