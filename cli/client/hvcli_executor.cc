#include "cli/client/hvcli_executor.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <memory>
#include <mutex>

#include "cli/client/control_socket.h"
#include "base/graph_lock.h"
#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/process.h"
#include "host/spawn.h"
#include "host/termination.h"
#include "host/unique_fd.h"
#include "host/unix_socket.h"
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

using host::ErrorText;

// Starts the executor program with the standard streams, the process's
// environment and a pipe as its descriptor 3, on which the detached executor
// reports its pid; `report` receives the pipe's reading end. Returns the
// started process's pid. Throws Exception.
pid_t StartExecutorProgram(const std::string& program, host::UniqueFd* report) {
  std::string path = program;
  std::string reportOption = "--report-pid-fd=3";
  char* argv[] = {&path[0], &reportOption[0], nullptr};
  const int stdio[3] = {0, 1, 2};
  pid_t child = -1;
  int status = host::SpawnWithReport(path.c_str(), argv, environ, stdio, &child, report);
  if (status == 0) return child;
  if (status == EAGAIN || status == ENOMEM) throw Exception("Failed to fork" + ErrorText(status));
  throw Exception("Bootcrank executor failed to start: " + program + ": " + ErrorText(status));
}

// Waits for the reply on `fd`, a request for `command` of `requester`:
// returns when `fd` is readable. While it waits longer than
// kFirstStatusAfterMs, logs a status line every kStatusEveryMs. Throws when
// a termination signal arrives first: the run is ending.
void AwaitReply(int fd, const std::string& command, const std::string& requester) {
  int waited = 0;
  for (int nextStatus = kFirstStatusAfterMs;; nextStatus += kStatusEveryMs) {
    int ready = host::WaitReadable(fd, nextStatus - waited, true);
    if (ready > 0) return;
    if (ready < 0)
      throw Exception("Stopped waiting for the executor: the run is ending: " + command);
    waited = nextStatus;
    Log_Level(kLogInfo,
              "still waiting for the CLI executor after %d s: plugin '%s', command '%s'\n",
              waited / 1000, requester.c_str(), command.c_str());
  }
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
    Log_Level(kLogError, "Failed creating bootcrank client socket %s\n", ErrorText(errno).c_str());
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
  const std::string program = host::HostPath(host::kCliExecutorPath);
  host::UniqueFd report;
  pid_t child = StartExecutorProgram(program, &report);
  // The detached executor writes its pid once it serves; the pipe reaches
  // its end when it has, or when the executor could not start.
  std::string pidText;
  bool reported = host::ReadAllWithin(report.Get(), kStopAnswerMs, 32, &pidText);
  report.Reset();

  int status = 0;
  if (host::WaitForChild(child, &status) < 0) {
    throw Exception("Failed collecting executor's exit status");
  }
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
  host::UniqueFd fd(Connect(false));
  if (fd.Get() < 0) {
    Log_Level(kLogInfo, "Executor already gone.\n");
    // Its socket may be gone while the process is not.
    EndProcess("its control socket does not answer");
    return;
  }
  if (host::SendOnce(fd.Get(), "stop", 4) == -1) {
    int error = errno;
    fd.Reset();
    throw Exception("Failed sending STOP to executor" + ErrorText(error));
  }
  host::ShutdownWriting(fd.Get());
  // A wedged executor never closes the connection: wait a bounded time.
  if (host::WaitReadable(fd.Get(), kStopAnswerMs, false) == 0) {
    fd.Reset();
    EndProcess("it did not answer the stop request within 5 seconds");
    return;
  }
  char reply[4];
  ssize_t received = host::ReceiveOnce(fd.Get(), reply, sizeof reply);
  fd.Reset();
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
  host::UniqueFd fd;
  for (int attempt = 0; attempt < kConnectionAttempts; ++attempt) {
    fd.Reset(Connect(true));
    if (fd.Get() > 0) break;
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
  // The system error text current after the last reset, as it stands.
  if (fd.Get() < 0) throw Exception("Could not connect to Executor:" + ErrorText(errno));

  if (host::SendOnce(fd.Get(), commandLine.data(), commandLine.size()) == -1) {
    int error = errno;
    fd.Reset();
    throw Exception("Failed sending command to executor: " + ErrorText(error));
  }
  // The executor reads one message; ending our side lets it see an empty
  // command line as one instead of waiting for more.
  host::ShutdownWriting(fd.Get());

  AwaitReply(fd.Get(), commandLine, requester);
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
