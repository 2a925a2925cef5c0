#include "cli/client/hvcli_executor.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "cli/client/control_socket.h"
#include "base/graph_lock.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/spawn.h"
#include "base/exception.h"

namespace bootcrank {

namespace {

constexpr int kConnectionAttempts = 10;
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

// Starts the executor program with the standard streams and the process's
// environment. Returns its pid. Throws Exception.
pid_t StartExecutorProgram() {
  std::string program = host::HostPath(kExecutorProgram);
  char* argv[] = {&program[0], nullptr};
  HvkuserCompat_SpawnFileActions actions;
  HvkuserStatus status = HvkuserCompat_SpawnFileActionsInit(&actions, 3);
  for (int fd = 0; status == 0 && fd <= 2; ++fd) {
    status = HvkuserCompat_SpawnFileActionsAddDup2(&actions, fd, fd);
  }
  pid_t child = -1;
  if (status == 0) {
    status = HvkuserCompat_Spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
  }
  HvkuserCompat_SpawnFileActionsDestroy(&actions);
  if (status == 0) return child;
  if (status == EAGAIN || status == ENOMEM) throw Exception("Failed to fork" + ErrorText(status));
  throw Exception("Bootcrank executor failed to start: " + program + ": " + ErrorText(status));
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
  pid_t child = StartExecutorProgram();

  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0) throw Exception("Failed collecting executor's exit status");
  if (status != 0) throw Exception("Bootcrank executor failed to start");
}

void HvcliExecutor::Stop() {
  int fd = Connect(false);
  if (fd < 0) {
    Log_Level(kLogInfo, "Executor already gone.\n");
    return;
  }
  if (SendRetrying(fd, "stop", 4) == -1) {
    int error = errno;
    close(fd);
    throw Exception("Failed sending STOP to executor" + ErrorText(error));
  }
  shutdown(fd, SHUT_WR);
  char reply[4];
  ssize_t received = ReceiveRetrying(fd, reply, sizeof reply);
  close(fd);
  if (received > 0) return;
  Log_Level(kLogInfo, "Executor has been Successfully Stopped\n");
}

void HvcliExecutor::Execute(const std::string& commandLine) {
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
  if (fd < 0) throw Exception("Could not connect to Executor:" + ErrorText(connectError));

  if (SendRetrying(fd, commandLine.data(), commandLine.size()) == -1) {
    int error = errno;
    close(fd);
    throw Exception("Failed sending command to executor: " + ErrorText(error));
  }
  // The executor reads one message; ending our side lets it see an empty
  // command line as one instead of waiting for more.
  shutdown(fd, SHUT_WR);

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
