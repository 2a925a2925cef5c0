#include "cli/executor_process.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <strings.h>

#include "cli/client/control_socket.h"
#include "cli/hvcli_dispatcher.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/poll.h"
#include "host/process.h"
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

std::string ErrorText(int error) { return std::strerror(error); }

// Creates `directory` and its missing parents with mode 0755.
void MakeDirectories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    std::string prefix = directory.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      throw Exception("Failed to create executor control socket directory " + prefix + ": " +
                      ErrorText(errno));
    }
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw Exception("Failed to create executor control socket directory " + directory + ": " +
                    ErrorText(errno != 0 ? errno : ENOTDIR));
  }
}

// Removes a socket file at `path` that no process listens on, left by an
// executor that did not end cleanly. Anything else at `path` stays, and bind
// reports it.
void RemoveStaleSocket(const std::string& path, const sockaddr_un& address) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return;
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return;
  int result;
  do {
    result = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result < 0 && errno == EINTR);
  bool stale = result < 0 && errno == ECONNREFUSED;
  close(probe);
  if (stale) unlink(path.c_str());
}

// True when the connected peer runs as the executor's own user.
bool PeerIsOwnUser(int connection) {
  struct ucred peer;
  socklen_t size = sizeof peer;
  if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
    Log_Level(kLogWarning, "Refusing executor control connection: cannot identify peer - %s\n",
              ErrorText(errno).c_str());
    return false;
  }
  if (peer.uid != geteuid()) {
    Log_Level(kLogWarning,
              "Refusing executor control connection from uid %u (pid %d): executor runs as "
              "uid %u\n",
              static_cast<unsigned>(peer.uid), static_cast<int>(peer.pid),
              static_cast<unsigned>(geteuid()));
    return false;
  }
  return true;
}

// The poll callback: serves one connection on the listening socket that
// `clientData` points to.
void HandleControlConnection(void* clientData) {
  const int listening = *static_cast<int*>(clientData);
  int connection;
  do {
    connection = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
  } while (connection < 0 && errno == EINTR);
  if (connection < 0) {
    Log_Level(kLogWarning, "Error accepting connection on contol socket - %s\n\n",
              ErrorText(errno).c_str());
    return;
  }
  if (!PeerIsOwnUser(connection)) {
    close(connection);
    return;
  }
  timeval timeout{kRequestTimeoutSeconds, 0};
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  char buffer[kLargestRequest + 1];
  ssize_t received;
  do {
    received = recv(connection, buffer, kLargestRequest, 0);
  } while (received < 0 && errno == EINTR);
  if (received < 0) {
    Log_Level(kLogWarning, "Failed to read message from socket - %s\n\n", ErrorText(errno).c_str());
    close(connection);
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
    shutdown(listening, SHUT_RDWR);
    close(connection);
    return;
  }

  int32_t status = 0;
  try {
    DispatchCommand(std::string(buffer));
  } catch (...) {
    status = 1;  // the dispatcher has logged why
  }
  ssize_t sent;
  do {
    sent = send(connection, &status, sizeof status, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent == -1) Log_Level(kLogWarning, "Sending command status to bootcrank failed\n");
  close(connection);
}

// Creates, binds and listens on the control socket. Throws Exception.
int OpenControlSocket() {
  const std::string path = cli::ControlSocketPath();
  sockaddr_un address;
  if (!cli::ControlSocketAddress(path, &address)) {
    throw Exception("Executor control socket path is too long (" + std::to_string(path.size()) +
                    " bytes, at most " + std::to_string(cli::kMaxControlSocketPath) + "): " + path);
  }
  int controlSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (controlSocket < 0) {
    throw Exception("Error opening control socket for executor: " + ErrorText(errno));
  }
  try {
    MakeDirectories(path.substr(0, path.rfind('/')));
  } catch (...) {
    close(controlSocket);
    throw;
  }
  RemoveStaleSocket(path, address);
  if (bind(controlSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    close(controlSocket);
    throw Exception("Failed to bind to executor control socket: " + ErrorText(error));
  }
  if (listen(controlSocket, kListenBacklog) != 0) {
    int error = errno;
    close(controlSocket);
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
  RedirectStdio(host::HostPath("/var/log/bootcrank-hvcli-stdout.log").c_str());
  int controlSocket = -1;
  pthread_t eventLoopThread;
  try {
    controlSocket = OpenControlSocket();
    if (daemon(0, 1) != 0) throw Exception("Failed to daemonize");
    if (pthread_create(&eventLoopThread, nullptr, &EventLoopThreadBody, &controlSocket) != 0) {
      throw Exception("Failed creating Executor Event Loop thread");
    }
    Log_Level(kLogInfo, "Executor Reset - polling for commands\n");
    if (pidReport >= 0) {
      std::string pid = std::to_string(getpid()) + "\n";
      if (write(pidReport, pid.data(), pid.size()) < 0) {
        // The client then cannot end this process by its pid; it still stops it.
      }
      close(pidReport);
    }
  } catch (const std::exception& e) {
    Log_Level(kLogError, "Unable to start executor: %s\n", e.what());
    return 255;
  } catch (...) {
    Log_Level(kLogError, "Unable to start executor\n");
    return 255;
  }
  pthread_join(eventLoopThread, nullptr);
  close(controlSocket);
  return 0;
}

}  // namespace bootcrank
