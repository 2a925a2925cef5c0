#include "host/captured_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "host/spawn.h"

namespace bootcrank {
namespace host {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often, at most, a silent child is looked at for having exited.
constexpr milliseconds kLongestPause(50);

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { close(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Spawns argv[0] with `output` as its standard output; a spawn status.
HvkuserStatus Spawn(const std::vector<std::string>& argv, int output, pid_t* pid) {
  std::vector<char*> args;
  for (const std::string& word : argv) args.push_back(const_cast<char*>(word.c_str()));
  args.push_back(nullptr);
  char* envp[] = {nullptr};
  HvkuserCompat_SpawnFileActions actions;
  HvkuserStatus status = HvkuserCompat_SpawnFileActionsInit(&actions, 1);
  if (status != 0) return status;
  status = HvkuserCompat_SpawnFileActionsAddDup2(&actions, output, STDOUT_FILENO);
  if (status == 0) {
    status = HvkuserCompat_Spawn(pid, args[0], &actions, nullptr, args.data(), envp);
  }
  HvkuserCompat_SpawnFileActionsDestroy(&actions);
  return status;
}

enum class PipeState { kOpen, kClosed, kOverLimit };

// Appends what the (non-blocking) pipe holds now, up to `limit` bytes in all.
PipeState Drain(int fd, size_t limit, std::string* output) {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      size_t room = limit - output->size();
      output->append(buffer, std::min(static_cast<size_t>(n), room));
      if (static_cast<size_t>(n) > room) return PipeState::kOverLimit;
    } else if (n == 0) {
      return PipeState::kClosed;
    } else if (errno == EAGAIN) {
      return PipeState::kOpen;
    } else if (errno != EINTR) {
      return PipeState::kClosed;  // nothing more can be read
    }
  }
}

void KillAndReap(pid_t pid) {
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

CapturedRun RunCapturingOutput(const std::vector<std::string>& argv, milliseconds timeLimit,
                               size_t outputLimit) {
  CapturedRun run;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    run.code = errno;
    return run;
  }
  Descriptor readEnd(ends[0]);
  pid_t pid = -1;
  {
    Descriptor writeEnd(ends[1]);
    if (fcntl(readEnd.get(), F_SETFL, O_NONBLOCK) != 0) {
      run.code = errno;
      return run;
    }
    HvkuserStatus status = Spawn(argv, writeEnd.get(), &pid);
    if (status != 0) {
      run.code = status;
      return run;
    }
  }

  const Clock::time_point deadline = Clock::now() + timeLimit;
  bool open = true;
  milliseconds pause(1);
  for (;;) {
    int status = 0;
    pid_t waited = waitpid(pid, &status, WNOHANG);
    if (waited < 0 && errno == EINTR) continue;
    if (waited < 0) {  // reaped elsewhere: not ours to kill any more
      run.end = CapturedRun::End::kLost;
      run.code = errno;
      return run;
    }
    if (waited == pid) {
      // What it wrote before exiting is in the pipe now; a process that it
      // left behind holding the pipe is not waited for.
      if (open && Drain(readEnd.get(), outputLimit, &run.output) == PipeState::kOverLimit) {
        run.end = CapturedRun::End::kTooLong;
      } else if (WIFEXITED(status)) {
        run.end = CapturedRun::End::kExited;
        run.code = WEXITSTATUS(status);
      } else if (WIFSIGNALED(status)) {
        run.end = CapturedRun::End::kSignalled;
        run.code = WTERMSIG(status);
      } else {
        run.end = CapturedRun::End::kLost;
      }
      return run;
    }
    if (open) {
      PipeState state = Drain(readEnd.get(), outputLimit, &run.output);
      if (state == PipeState::kOverLimit) {
        KillAndReap(pid);
        run.end = CapturedRun::End::kTooLong;
        return run;
      }
      if (state == PipeState::kClosed) {
        open = false;
        pause = milliseconds(1);  // it is most likely exiting right now
      }
    }
    Clock::time_point now = Clock::now();
    if (now >= deadline) {
      KillAndReap(pid);
      run.end = CapturedRun::End::kTimedOut;
      return run;
    }
    // Wakes for output at once; looks for an exit after the pause.
    milliseconds wait = std::min(pause, std::chrono::ceil<milliseconds>(deadline - now));
    struct pollfd ready = {readEnd.get(), POLLIN, 0};
    if (poll(&ready, open ? 1 : 0, static_cast<int>(wait.count())) == 0) {
      pause = std::min(pause * 2, kLongestPause);
    }
  }
}

}  // namespace host
}  // namespace bootcrank
