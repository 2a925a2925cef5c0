#include "cli/client/hvcli_executor.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "cli/client/control_socket.h"
#include "base/graph_lock.h"
#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/process.h"
#include "host/spawn.h"
#include "host/unique_fd.h"
#include "host/unix_socket.h"
#include "base/exception.h"

namespace bootcrank {

namespace {

constexpr int kConnectionAttempts = 10;

using host::ErrorText;

// Starts the executor program with the standard streams and the process's
// environment. Returns its pid. Throws Exception.
pid_t StartExecutorProgram() {
  std::string program = host::HostPath(host::kCliExecutorPath);
  char* argv[] = {&program[0], nullptr};
  const int stdio[3] = {0, 1, 2};
  pid_t child = -1;
  int status = host::Spawn(program.c_str(), argv, environ, stdio, &child);
  if (status == 0) return child;
  if (status == EAGAIN || status == ENOMEM) throw Exception("Failed to fork" + ErrorText(status));
  throw Exception("Bootcrank executor failed to start: " + program + ": " + ErrorText(status));
}

}  // namespace

HvcliExecutor& HvcliExecutor::Instance() {
  static std::shared_ptr<HvcliExecutor> instance;
  if (!instance) {
    if (host::IgnoreBrokenPipes() != 0) {
      Log_Level(kLogWarning, "Bootcrank cannot ignore SIGPIPE\n");
    }
    instance.reset(new HvcliExecutor);
  }
  return *instance;
}

HvcliExecutor::HvcliExecutor() = default;

HvcliExecutor::~HvcliExecutor() = default;

int HvcliExecutor::Connect(bool logFailure) {
  host::UniqueFd fd = host::NewUnixStreamSocket();
  if (!fd.Valid()) {
    Log_Level(kLogError, "Failed creating bootcrank client socket %s\n",
              ErrorText(errno).c_str());
    return -1;
  }
  const std::string path = cli::ControlSocketPath();
  host::PeerCredentials peer;
  int error = host::ConnectUnixSocket(fd.Get(), path, &peer);
  if (error == EPERM) {
    // Not the executor this program started: it gets no command, not even
    // the final stop.
    Log_Level(kLogError,
              "Refusing the executor control socket %s: it is served by uid %u (pid %d), not by "
              "uid %u\n",
              path.c_str(), static_cast<unsigned>(peer.userId), static_cast<int>(peer.processId),
              static_cast<unsigned>(host::EffectiveUserId()));
  }
  if (error != 0) {
    fd.Reset();
    if (logFailure) {
      Log_Level(kLogError, "Failed connecting to executor %s\n", ErrorText(error).c_str());
    }
    errno = error;
    return -1;
  }
  return fd.Release();
}

void HvcliExecutor::Reset() {
  {
    host::UniqueFd fd(Connect(false));
    if (fd.Get() > 0) return;
  }

  Log_Level(kLogInfo, "Setting up Executor - Reset Requested\n");
  pid_t child = StartExecutorProgram();

  int status = 0;
  if (host::WaitForChild(child, &status) < 0) {
    throw Exception("Failed collecting executor's exit status");
  }
  if (status != 0) throw Exception("Bootcrank executor failed to start");
}

void HvcliExecutor::Stop() {
  host::UniqueFd fd(Connect(false));
  if (fd.Get() < 0) {
    Log_Level(kLogInfo, "Executor already gone.\n");
    return;
  }
  if (host::SendOnce(fd.Get(), "stop", 4) == -1) {
    int error = errno;
    fd.Reset();
    throw Exception("Failed sending STOP to executor" + ErrorText(error));
  }
  host::ShutdownWriting(fd.Get());
  char reply[4];
  ssize_t received = host::ReceiveOnce(fd.Get(), reply, sizeof reply);
  fd.Reset();
  if (received > 0) return;
  Log_Level(kLogInfo, "Executor has been Successfully Stopped\n");
}

void HvcliExecutor::Execute(const std::string& commandLine) {
  host::UniqueFd fd;
  int connectError = 0;
  for (int attempt = 0; attempt < kConnectionAttempts; ++attempt) {
    fd.Reset(Connect(true));
    if (fd.Get() > 0) break;
    connectError = errno;
    fd.Reset();
    GraphLockHolder lock;
    try {
      Reset();
    } catch (const std::exception& e) {
      Log_Level(kLogError, "Resetting Executor failed, retrying: %s\n", e.what());
    } catch (...) {
      Log_Level(kLogError, "Resetting Executor failed, retrying\n");
    }
  }
  if (fd.Get() < 0) throw Exception("Could not connect to Executor:" + ErrorText(connectError));

  if (host::SendOnce(fd.Get(), commandLine.data(), commandLine.size()) == -1) {
    int error = errno;
    fd.Reset();
    throw Exception("Failed sending command to executor: " + ErrorText(error));
  }
  // The executor reads one message; ending our side lets it see an empty
  // command line as one instead of waiting for more.
  host::ShutdownWriting(fd.Get());

  int32_t status = -1;
  ssize_t received = host::ReceiveOnce(fd.Get(), &status, sizeof status);
  if (received != static_cast<ssize_t>(sizeof status)) {
    // A peer that closes without a full status counts as a reset connection.
    int error = received < 0 ? errno : ECONNRESET;
    fd.Reset();
    throw Exception("Failed to recieve command status from Executor: " + ErrorText(error));
  }
  fd.Reset();
  if (status != 0) throw Exception("Executor failed executing hvcli command: " + commandLine);
}

}  // namespace bootcrank
