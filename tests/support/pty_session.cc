#include "support/pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

namespace bootcrank {
namespace testing {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

}  // namespace

PtySession::PtySession(const std::function<int()>& body) {
  std::cout.flush();
  fflush(nullptr);
  pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ < 0) throw std::runtime_error(std::string("forkpty: ") + strerror(errno));
  if (pid_ == 0) {
    struct termios settings;
    if (tcgetattr(STDIN_FILENO, &settings) == 0) {
      settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    }
    int result = body();
    std::cout.flush();
    fflush(nullptr);
    _exit(result);
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
}

PtySession::~PtySession() {
  if (pid_ > 0 && status_ < 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    Reap(true);
  }
  if (master_ >= 0) close(master_);
}

void PtySession::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(std::string("write to terminal: ") + strerror(errno));
    done += static_cast<size_t>(n);
  }
}

bool PtySession::ReadSome(int milliseconds) {
  if (master_ < 0) return false;
  struct pollfd p = {master_, POLLIN, 0};
  int ready = poll(&p, 1, milliseconds);
  if (ready < 0) return errno == EINTR;
  if (ready == 0) return true;
  char buffer[4096];
  ssize_t n = read(master_, buffer, sizeof buffer);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;  // EIO: nobody holds the slave anymore
  output_.append(buffer, static_cast<size_t>(n));
  return true;
}

bool PtySession::WaitFor(const std::string& needle, size_t from, int timeoutSeconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    if (output_.size() >= from && output_.find(needle, from) != std::string::npos) return true;
    int left = MillisecondsLeft(deadline);
    if (left == 0 || !ReadSome(left)) return false;
  }
}

struct termios PtySession::Settings() const {
  struct termios settings;
  memset(&settings, 0, sizeof settings);
  if (master_ >= 0) tcgetattr(master_, &settings);
  return settings;
}

bool PtySession::WaitForSettings(const std::function<bool(const struct termios&)>& holds,
                                 int timeoutSeconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!holds(Settings())) {
    if (MillisecondsLeft(deadline) == 0) return false;
    // Keep reading, so a child that writes meanwhile never blocks.
    ReadSome(20);
  }
  return true;
}

void PtySession::Hangup() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

int PtySession::Reap(bool block) {
  if (status_ >= 0) return status_;
  int status;
  pid_t done;
  while ((done = waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (done == pid_) status_ = DecodeStatus(status);
  return done == pid_ ? status_ : -1;
}

int PtySession::Finish(int timeoutSeconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  bool open = true;
  while (Reap(false) < 0) {
    if (MillisecondsLeft(deadline) == 0) {
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      Reap(true);
      return -1;
    }
    if (open) {
      open = ReadSome(50);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // What the child wrote last may still be on its way to the master; a
  // process that inherited the terminal may keep it open, so stop once
  // nothing more comes.
  size_t seen = output_.size();
  Clock::time_point quiet = Clock::now() + std::chrono::seconds(2);
  while (open && MillisecondsLeft(quiet) > 0 && MillisecondsLeft(deadline) > 0) {
    open = ReadSome(MillisecondsLeft(quiet));
    if (output_.size() != seen) {
      seen = output_.size();
      quiet = Clock::now() + std::chrono::seconds(2);
    }
  }
  return status_;
}

std::function<int()> ExecBody(const std::string& program, const std::vector<std::string>& argv,
                              const std::vector<std::string>& env) {
  return [program, argv, env]() {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> environment;
    for (const std::string& entry : env) environment.push_back(const_cast<char*>(entry.c_str()));
    environment.push_back(nullptr);
    execve(program.c_str(), args.data(), environment.data());
    fprintf(stderr, "execve %s: %s\n", program.c_str(), strerror(errno));
    return 127;
  };
}

}  // namespace testing
}  // namespace bootcrank
