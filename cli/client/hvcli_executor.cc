#include "cli/client/hvcli_executor.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "cli/client/control_socket.h"
#include "base/graph_lock.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/process.h"
#include "host/spawn.h"
#include "host/termination.h"
#include "base/exception.h"

namespace bootcrank {

namespace {

constexpr int kConnectionAttempts = 10;
// A command that has not been answered after this long gets a status line,
// and another one every kStatusEveryMs after that. The wait itself has no
// end: a CLI command may take as long as it takes.
constexpr int kFirstStatusAfterMs = 10000;
constexpr int kStatusEveryMs = 10000;
// How long Stop waits for the executor to close the stop connection, and
// then for its process to end after SIGTERM, before it ends it with SIGKILL.
constexpr int kStopAnswerMs = 5000;
constexpr int kStopGraceMs = 2000;
constexpr const char* kExecutorProgram = "/usr/lib/quarro/bootcrank/hvcliExecutor";

std::string ErrorText(int error) { return std::strerror(error); }

ssize_t SendRetrying(int fd, const void* data, size_t size) {
  ssize_t sent;
  do {
    sent = send(fd, data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

ssize_t ReceiveRetrying(int fd, void* data, size_t size) {
  ssize_t received;
  do {
    received = recv(fd, data, size, 0);
  } while (received < 0 && errno == EINTR);
  return received;
}

// Closes `fd` without disturbing errno, which the caller still reports.
void CloseKeepingErrno(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

// Starts the executor program with the standard streams, the process's
// environment and `pidReport` as its descriptor 3, on which the detached
// executor reports its pid. Returns the started process's pid. Throws
// Exception.
pid_t StartExecutorProgram(const std::string& program, int pidReport) {
  std::string path = program;
  std::string report = "--report-pid-fd=3";
  char* argv[] = {&path[0], &report[0], nullptr};
  HvkuserCompat_SpawnFileActions actions;
  HvkuserStatus status = HvkuserCompat_SpawnFileActionsInit(&actions, 4);
  for (int fd = 0; status == 0 && fd <= 2; ++fd) {
    status = HvkuserCompat_SpawnFileActionsAddDup2(&actions, fd, fd);
  }
  if (status == 0) status = HvkuserCompat_SpawnFileActionsAddDup2(&actions, pidReport, 3);
  pid_t child = -1;
  if (status == 0)
    status = HvkuserCompat_Spawn(&child, path.c_str(), &actions, nullptr, argv, environ);
  HvkuserCompat_SpawnFileActionsDestroy(&actions);
  if (status == 0) return child;
  if (status == EAGAIN || status == ENOMEM) throw Exception("Failed to fork" + ErrorText(status));
  throw Exception("Bootcrank executor failed to start: " + program + ": " + ErrorText(status));
}

// Waits for the reply on `fd`, a request for `command` of `requester`:
// returns when `fd` is readable. While it waits longer than
// kFirstStatusAfter, logs a status line every kStatusEvery. Throws when a
// termination signal arrives first: the run is ending.
void AwaitReply(int fd, const std::string& command, const std::string& requester) {
  int waited = 0;
  int nextStatus = kFirstStatusAfterMs;
  for (;;) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {host::TerminationFd(), POLLIN, 0}};
    int ready = poll(fds, fds[1].fd >= 0 ? 2 : 1, kStatusEveryMs / 10);
    if (ready < 0 && errno != EINTR) return;  // the receive reports it
    if (ready > 0 && fds[0].revents != 0) return;
    if (host::TerminationSignal() != 0) {
      throw Exception("Stopped waiting for the executor: the run is ending: " + command);
    }
    if (ready == 0) waited += kStatusEveryMs / 10;
    if (waited >= nextStatus) {
      Log_Level(kLogInfo,
                "still waiting for the CLI executor after %d s: plugin '%s', command '%s'\n",
                waited / 1000, requester.c_str(), command.c_str());
      nextStatus += kStatusEveryMs;
    }
  }
}

}  // namespace

HvcliExecutor& HvcliExecutor::Instance() {
  static std::shared_ptr<HvcliExecutor> instance;
  if (!instance) {
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
      Log_Level(kLogWarning, "Bootcrank cannot ignore SIGPIPE\n");
    }
    instance.reset(new HvcliExecutor);
  }
  return *instance;
}

HvcliExecutor::HvcliExecutor() = default;

HvcliExecutor::~HvcliExecutor() = default;

int HvcliExecutor::Connect(bool logFailure) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Log_Level(kLogError, "Failed creating bootcrank client socket %s\n", ErrorText(errno).c_str());
    return -1;
  }
  sockaddr_un address;
  int result = -1;
  if (!cli::ControlSocketAddress(cli::ControlSocketPath(), &address)) {
    errno = ENAMETOOLONG;
  } else {
    do {
      result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result < 0 && errno == EINTR);
    if (result < 0 && errno == EISCONN) result = 0;  // completed after an interruption
  }
  if (result < 0) {
    CloseKeepingErrno(fd);
    if (logFailure) {
      int saved = errno;
      Log_Level(kLogError, "Failed connecting to executor %s\n", ErrorText(saved).c_str());
      errno = saved;
    }
    return -1;
  }
  return fd;
}

void HvcliExecutor::Reset() {
  int fd = Connect(false);
  if (fd > 0) {
    close(fd);
    return;
  }
  if (fd == 0) close(fd);

  Log_Level(kLogInfo, "Setting up Executor - Reset Requested\n");
  const std::string program = host::HostPath(kExecutorProgram);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) throw Exception("Failed to fork" + ErrorText(errno));
  pid_t child;
  try {
    child = StartExecutorProgram(program, report[1]);
  } catch (...) {
    close(report[0]);
    close(report[1]);
    throw;
  }
  close(report[1]);
  // The detached executor writes its pid once it serves; the pipe closes
  // when it has (or when it could not start).
  std::string pidText;
  bool reported = host::ReadAllWithin(report[0], kStopAnswerMs, 32, &pidText);
  close(report[0]);

  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0) throw Exception("Failed collecting executor's exit status");
  if (status != 0) throw Exception("Bootcrank executor failed to start");
  pid_t served = reported ? host::ParseProcessId(pidText) : 0;
  std::lock_guard<std::mutex> lock(processMutex_);
  if (served != 0) {
    process_.Open(served, program);
  } else {
    process_.Close();
  }
}

void HvcliExecutor::EndProcess(const char* why) {
  std::lock_guard<std::mutex> lock(processMutex_);
  if (!process_.Alive()) return;
  Log_Level(kLogWarning, "Ending executor process %d: %s\n", static_cast<int>(process_.Pid()), why);
  process_.Signal(SIGTERM);
  if (!process_.WaitGone(kStopGraceMs)) {
    process_.Signal(SIGKILL);
    process_.WaitGone(kStopGraceMs);
  }
}

void HvcliExecutor::Stop() {
  int fd = Connect(false);
  if (fd < 0) {
    Log_Level(kLogInfo, "Executor already gone.\n");
    // Its socket may be gone while the process is not.
    EndProcess("its control socket does not answer");
    return;
  }
  if (SendRetrying(fd, "stop", 4) == -1) {
    int error = errno;
    close(fd);
    throw Exception("Failed sending STOP to executor" + ErrorText(error));
  }
  shutdown(fd, SHUT_WR);
  // A wedged executor never closes the connection: wait a bounded time.
  struct pollfd answer = {fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&answer, 1, kStopAnswerMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) {
    close(fd);
    EndProcess("it did not answer the stop request within 5 seconds");
    return;
  }
  char reply[4];
  ssize_t received = ReceiveRetrying(fd, reply, sizeof reply);
  close(fd);
  if (received > 0) return;
  Log_Level(kLogInfo, "Executor has been Successfully Stopped\n");
}

void HvcliExecutor::Execute(const std::string& commandLine) { Execute(commandLine, ""); }

void HvcliExecutor::Execute(const std::string& commandLine, const std::string& requester) {
  if (commandLine.size() > cli::kMaxCommandLineBytes) {
    throw Exception("CLI command of " + std::to_string(commandLine.size()) +
                    " bytes is longer than the " + std::to_string(cli::kMaxCommandLineBytes) +
                    " bytes the executor takes; not sent");
  }
  int fd = -1;
  int connectError = 0;
  for (int attempt = 0; attempt < kConnectionAttempts; ++attempt) {
    fd = Connect(true);
    if (fd > 0) break;
    connectError = errno;
    if (fd == 0) close(fd);
    fd = -1;
    GraphLockHolder lock;
    try {
      Reset();
    } catch (const std::exception& e) {
      Log_Level(kLogError, "Resetting Executor failed, retrying: %s\n", e.what());
    } catch (...) {
      Log_Level(kLogError, "Resetting Executor failed, retrying\n");
    }
  }
  // The system error text current after the last reset, as it stands.
  (void)connectError;
  if (fd < 0) throw Exception("Could not connect to Executor:" + ErrorText(errno));

  if (SendRetrying(fd, commandLine.data(), commandLine.size()) == -1) {
    int error = errno;
    close(fd);
    throw Exception("Failed sending command to executor: " + ErrorText(error));
  }
  // The executor reads one message; ending our side lets it see an empty
  // command line as one instead of waiting for more.
  shutdown(fd, SHUT_WR);

  try {
    AwaitReply(fd, commandLine, requester);
  } catch (...) {
    close(fd);
    throw;
  }
  int32_t status = -1;
  ssize_t received = ReceiveRetrying(fd, &status, sizeof status);
  if (received != static_cast<ssize_t>(sizeof status)) {
    // A peer that closes without a full status counts as a reset connection.
    int error = received < 0 ? errno : ECONNRESET;
    close(fd);
    throw Exception("Failed to recieve command status from Executor: " + ErrorText(error));
  }
  close(fd);
  if (status != 0) throw Exception("Executor failed executing hvcli command: " + commandLine);
}

}  // namespace bootcrank
