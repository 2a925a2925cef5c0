#include "host/termination.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "host/process.h"

namespace bootcrank {
namespace host {

namespace {

std::atomic<int> receivedSignal{0};
int wakeRead = -1;
int wakeWrite = -1;

void OnTerminationSignal(int signal) {
  int expected = 0;
  receivedSignal.compare_exchange_strong(expected, signal);
  int saved = errno;
  char byte = 1;
  if (write(wakeWrite, &byte, 1) < 0) {
    // Full pipe: it is readable already.
  }
  errno = saved;
}

// Every live process's parent, from /proc; zombies are left out.
std::multimap<pid_t, pid_t> ChildrenByParent() {
  std::multimap<pid_t, pid_t> children;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return children;
  while (struct dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0) continue;
    char state = 0;
    pid_t parent = 0;
    if (!ReadProcessStatus(static_cast<pid_t>(pid), &state, &parent)) continue;
    if (state == 'Z' || state == 'X') continue;
    children.emplace(parent, static_cast<pid_t>(pid));
  }
  closedir(proc);
  return children;
}

std::vector<pid_t> Descendants(pid_t spare) {
  std::multimap<pid_t, pid_t> children = ChildrenByParent();
  std::vector<pid_t> found;
  std::vector<pid_t> parents{getpid()};
  while (!parents.empty()) {
    pid_t parent = parents.back();
    parents.pop_back();
    auto range = children.equal_range(parent);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == spare) continue;
      found.push_back(it->second);
      parents.push_back(it->second);
    }
  }
  return found;
}

}  // namespace

bool InstallTerminationHandlers() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  wakeRead = fds[0];
  wakeWrite = fds[1];
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: blocking waits return EINTR
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  return true;
}

int TerminationSignal() { return receivedSignal.load(); }

int WaitReadable(int fd, int milliseconds, bool orTermination) {
  struct pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
  const int count = orTermination && wakeRead >= 0 ? 2 : 1;
  for (;;) {
    if (orTermination && TerminationSignal() != 0) return -1;
    int ready = poll(fds, count, milliseconds);
    if (ready < 0 && errno == EINTR) continue;  // a signal: look again
    if (ready <= 0) return ready < 0 ? 1 : 0;   // an error: let the read report it
    if (fds[0].revents != 0) return 1;
    if (orTermination && TerminationSignal() != 0) return -1;
  }
}

std::string SignalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                 : "signal " + std::to_string(signal);
}

std::string SignalDescription(int signal) { return strsignal(signal); }

int TerminationFd() { return wakeRead; }

int TerminateDescendants(int graceMilliseconds, pid_t spare) {
  // From now on a process whose parent dies (a shell ended before the
  // command it started) comes to this one instead of escaping to init.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::set<pid_t> signalled;
  auto signalAll = [&](int signal) {
    std::vector<pid_t> found = Descendants(spare);
    for (pid_t pid : found) {
      if (signal == SIGKILL || signalled.insert(pid).second) kill(pid, signal);
    }
    return !found.empty();
  };
  for (int waited = 0; signalAll(SIGTERM) && waited < graceMilliseconds; waited += 50) {
    poll(nullptr, 0, 50);
  }
  for (int waited = 0; signalAll(SIGKILL) && waited < 2000; waited += 50) poll(nullptr, 0, 50);
  return static_cast<int>(signalled.size());
}

TerminationWatcher::TerminationWatcher(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) == 0) {
    stopRead_ = fds[0];
    stopWrite_ = fds[1];
  }
  thread_ = std::thread(&TerminationWatcher::Watch, this);
}

TerminationWatcher::~TerminationWatcher() {
  if (stopWrite_ >= 0) close(stopWrite_);  // wakes Watch with end of file
  thread_.join();
  if (stopRead_ >= 0) close(stopRead_);
}

void TerminationWatcher::Watch() {
  if (stopRead_ < 0 || wakeRead < 0) return;
  struct pollfd fds[2] = {{stopRead_, POLLIN, 0}, {wakeRead, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;  // the destructor
    if (fds[1].revents != 0 && TerminationSignal() != 0) {
      onSignal_(TerminationSignal());
      return;
    }
  }
}

}  // namespace host
}  // namespace bootcrank
