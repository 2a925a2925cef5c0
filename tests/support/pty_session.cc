#include "support/pty_session.h"

#include "host/process.h"

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
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
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
  if (status_ < 0) Kill();
  close(master_);
}

void PtySession::Kill() {
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  Reap(true);
}

void PtySession::Send(const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(std::string("write to terminal: ") + strerror(errno));
    done += static_cast<size_t>(n);
  }
}

bool PtySession::ReadSome(int milliseconds) {
  struct pollfd p = {master_, POLLIN, 0};
  int ready = poll(&p, 1, milliseconds);
  if (ready <= 0) return ready == 0 || errno == EINTR;
  char buffer[4096];
  ssize_t n = read(master_, buffer, sizeof buffer);
  if (n > 0) output_.append(buffer, static_cast<size_t>(n));
  return n > 0 || (n < 0 && errno == EINTR);  // EIO: nobody holds the slave anymore
}

bool PtySession::WaitFor(const std::string& needle, size_t from, int timeoutSeconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  while (output_.size() < from || output_.find(needle, from) == std::string::npos) {
    int left = MillisecondsLeft(deadline);
    if (left == 0 || !ReadSome(left)) return false;
  }
  return true;
}

bool PtySession::WaitForSettings(const std::function<bool(const struct termios&)>& holds,
                                 int timeoutSeconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  for (struct termios settings = {}; tcgetattr(master_, &settings) != 0 || !holds(settings);) {
    if (MillisecondsLeft(deadline) == 0) return false;
    ReadSome(20);  // keep reading, so a child that writes meanwhile never blocks
  }
  return true;
}

int PtySession::Reap(bool block) {
  int status;
  pid_t done;
  while ((done = waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (done == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

int PtySession::Finish(int timeoutSeconds) {
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  bool open = true;
  while (status_ < 0 && Reap(false) < 0) {
    if (MillisecondsLeft(deadline) == 0) return Kill(), -1;
    if (open) open = ReadSome(50);
    else std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The child's last output may still be on its way; a process that
  // inherited the terminal may keep it open, so stop once it goes quiet.
  for (size_t seen = output_.size(); open && MillisecondsLeft(deadline) > 0; seen = output_.size()) {
    open = ReadSome(2000);
    if (output_.size() == seen) break;
  }
  return status_;
}

std::function<int()> ExecBody(const std::string& program, const std::vector<std::string>& argv,
                              const std::vector<std::string>& env) {
  return [program, argv, env]() {
    std::vector<char*> args, environment;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    for (const std::string& entry : env) environment.push_back(const_cast<char*>(entry.c_str()));
    args.push_back(nullptr);
    environment.push_back(nullptr);
    // Only the terminal: descriptors the test runner left open stay here.
    host::CloseDescriptorsFrom(3);
    execve(program.c_str(), args.data(), environment.data());
    fprintf(stderr, "execve %s: %s\n", program.c_str(), strerror(errno));
    return 127;
  };
}

}  // namespace testing
}  // namespace bootcrank
