#include "cli/executor_process.h"

#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <strings.h>

#include "cli/client/control_socket.h"
#include "cli/hvcli_dispatcher.h"
#include "host/error_text.h"
#include "host/files.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/poll.h"
#include "host/process.h"
#include "host/unix_socket.h"
#include "base/exception.h"
#include "host/logging.h"

namespace bootcrank {

namespace {

constexpr int kListenBacklog = 16;
constexpr size_t kLargestRequest = cli::kMaxCommandLineBytes;
constexpr int kPollFlags = POLL_FLAG_READ | POLL_FLAG_REMOVE_AT_POWEROFF | POLL_FLAG_PERIODIC;
// A client that connects and neither sends nor closes is dropped after this
// long, so that it cannot hold up every other request.
constexpr int kRequestTimeoutSeconds = 3;

// Set by the stop request; read by the poll loop. Event-loop thread only.
bool executorExitRequested = false;

using host::ErrorText;

// Creates `directory` and its missing parents with mode 0755.
void MakeDirectories(const std::string& directory) {
  std::string failed;
  if (int error = host::MakeDirectories(directory, 0755, &failed)) {
    throw Exception("Failed to create executor control socket directory " + failed + ": " +
                    ErrorText(error));
  }
}

// True when the connected peer runs as the executor's own user.
bool PeerIsOwnUser(int connection) {
  host::PeerCredentials peer;
  if (int error = host::PeerOf(connection, &peer)) {
    Log_Level(kLogWarning, "Refusing executor control connection: cannot identify peer - %s\n",
              ErrorText(error).c_str());
    return false;
  }
  if (peer.userId != host::EffectiveUserId()) {
    Log_Level(kLogWarning,
              "Refusing executor control connection from uid %u (pid %d): executor runs as "
              "uid %u\n",
              static_cast<unsigned>(peer.userId), static_cast<int>(peer.processId),
              static_cast<unsigned>(host::EffectiveUserId()));
    return false;
  }
  return true;
}

// The poll callback: serves one connection on the listening socket that
// `clientData` points to.
void HandleControlConnection(void* clientData) {
  const int listening = *static_cast<int*>(clientData);
  host::UniqueFd connection = host::AcceptConnection(listening);
  if (!connection.Valid()) {
    Log_Level(kLogWarning, "Error accepting connection on contol socket - %s\n\n",
              ErrorText(errno).c_str());
    return;
  }
  if (!PeerIsOwnUser(connection.Get())) return;
  host::SetReceiveTimeout(connection.Get(), kRequestTimeoutSeconds);

  char buffer[kLargestRequest + 1];
  ssize_t received = host::ReceiveOnce(connection.Get(), buffer, kLargestRequest);
  if (received < 0) {
    Log_Level(kLogWarning, "Failed to read message from socket - %s\n\n", ErrorText(errno).c_str());
    return;
  }
  buffer[received] = '\0';

  if (strncasecmp(buffer, "stop", 4) == 0) {
    Log_Level(kLogInfo, "Bootcrank executor signalled to stop\n");
    executorExitRequested = true;
    Poll_NotifyChange(POLL_CS_MAIN);
    Poll_CallbackRemove(POLL_CS_MAIN, kPollFlags, HandleControlConnection, clientData, POLL_DEVICE);
    // Refuse new connections before the stopping client sees its connection
    // close: a Reset right after Stop must find no executor here and start
    // one, instead of queueing on a socket that is never served again.
    host::ShutdownBoth(listening);
    return;
  }

  int32_t status = 0;
  try {
    DispatchCommand(std::string(buffer));
  } catch (...) {
    status = 1;  // the dispatcher has logged why
  }
  if (host::SendOnce(connection.Get(), &status, sizeof status) == -1) {
    Log_Level(kLogWarning, "Sending command status to bootcrank failed\n");
  }
}

// Creates, binds and listens on the control socket. Throws Exception.
host::UniqueFd OpenControlSocket() {
  const std::string path = cli::ControlSocketPath();
  if (path.size() > host::kMaxUnixSocketPath) {
    throw Exception("Executor control socket path is too long (" + std::to_string(path.size()) +
                    " bytes, at most " + std::to_string(host::kMaxUnixSocketPath) + "): " + path);
  }
  host::UniqueFd controlSocket = host::NewUnixStreamSocket();
  if (!controlSocket.Valid()) {
    throw Exception("Error opening control socket for executor: " + ErrorText(errno));
  }
  MakeDirectories(path.substr(0, path.rfind('/')));
  // What an executor that did not end cleanly left, or junk in its place.
  host::RemoveStaleSocket(path);
  if (int error = host::BindUnixSocket(controlSocket.Get(), path)) {
    throw Exception("Failed to bind to executor control socket: " + ErrorText(error));
  }
  if (int error = host::Listen(controlSocket.Get(), kListenBacklog)) {
    throw Exception("Failed to listen on executor control socket: " + ErrorText(error));
  }
  return controlSocket;
}

// The event-loop thread: serves connections on the listening socket that
// `socket` points to until a stop request.
void* EventLoopThreadBody(void* socket) {
  int listening = *static_cast<int*>(socket);
  Poll_InitDefault();
  if (Poll_Callback(POLL_CS_MAIN, kPollFlags, HandleControlConnection, &listening, POLL_DEVICE,
                    listening, nullptr) != 0) {
    Log_Level(kLogError, "Failed setting up Poll Loop for executor\n");
    return nullptr;
  }
  Poll_Loop(1, &executorExitRequested, POLL_CLASS_MAIN);
  return nullptr;
}

}  // namespace

int RunExecutorProcess(int pidReport) {
  RedirectStdio(host::HostPath(host::kExecutorOutputLogPath).c_str());
  host::UniqueFd controlSocket;
  int listening = -1;
  pthread_t eventLoopThread;
  try {
    controlSocket = OpenControlSocket();
    listening = controlSocket.Get();
    if (host::Detach() != 0) throw Exception("Failed to daemonize");
    if (pthread_create(&eventLoopThread, nullptr, &EventLoopThreadBody, &listening) != 0) {
      throw Exception("Failed creating Executor Event Loop thread");
    }
    Log_Level(kLogInfo, "Executor Reset - polling for commands\n");
    // Without the report the client cannot end this process by its pid; it
    // still stops it.
    if (pidReport >= 0) host::ReportProcessId(pidReport);
  } catch (const std::exception& e) {
    Log_Level(kLogError, "Unable to start executor: %s\n", e.what());
    return 255;
  } catch (...) {
    Log_Level(kLogError, "Unable to start executor\n");
    return 255;
  }
  pthread_join(eventLoopThread, nullptr);
  controlSocket.Reset();
  return 0;
}

}  // namespace bootcrank
