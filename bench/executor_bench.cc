// Cost of one CLI command through the executor process, against the two
// other ways to run a command from another process:
//
//   BM_ExecuteCliCommand    HvcliExecutor::Execute of a "file append"
//                           command: connect, send, dispatch, reply, close.
//                           Needs BOOTCRANK_ROOT naming an installed root
//                           (the core CLI extension below usr/lib/quarro/hvcli);
//                           skipped without it.
//   BM_ProcessPerCommand    posix_spawn of /bin/true and waitpid: the least
//                           that starting a process per command costs.
//   BM_BareSocketRoundTrip  the protocol's floor: a new UNIX-socket
//                           connection per request to a server process that
//                           answers 4 bytes and does nothing else.
//
// One iteration is one command; items per second are commands per second.

#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/client/hvcli_executor.h"

extern char** environ;

namespace bootcrank {
namespace {

bool g_executorStarted = false;

void BM_ExecuteCliCommand(benchmark::State& state) {
  const char* root = std::getenv("BOOTCRANK_ROOT");
  if (root == nullptr || *root == '\0') {
    state.SkipWithError("BOOTCRANK_ROOT is not set to an installed root");
    return;
  }
  // One executor process for all runs of this benchmark, stopped by main:
  // a stop followed at once by a reset may still find the stopping one.
  HvcliExecutor& executor = HvcliExecutor::Instance();
  g_executorStarted = true;
  const std::string command = "file append --path=/var/lib/bench/execute --content=y";
  try {
    executor.Reset();
    for (auto _ : state) executor.Execute(command);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ProcessPerCommand(benchmark::State& state) {
  char program[] = "/bin/true";
  char* argv[] = {program, nullptr};
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn of /bin/true failed");
      return;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// Serves requests the way the executor does, minus the dispatch: accept,
// one receive, a 4-byte reply, close. Never returns.
[[noreturn]] void ServeBareRequests(int listening) {
  for (;;) {
    int connection = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    char buffer[1024];
    if (recv(connection, buffer, sizeof buffer - 1, 0) >= 0) {
      int32_t status = 0;
      send(connection, &status, sizeof status, MSG_NOSIGNAL);
    }
    close(connection);
  }
}

void BM_BareSocketRoundTrip(benchmark::State& state) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = "/tmp/bootcrank-bench-" + std::to_string(getpid()) + ".sock";
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  unlink(path.c_str());
  if (listening < 0 ||
      bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listening, 16) != 0) {
    state.SkipWithError("cannot listen on a UNIX socket in /tmp");
    if (listening >= 0) close(listening);
    return;
  }
  pid_t server = fork();
  if (server == 0) ServeBareRequests(listening);
  close(listening);
  const std::string request = "file append --path=/var/lib/bench/execute --content=y";
  for (auto _ : state) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      state.SkipWithError("connect failed");
      break;
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    int32_t status;
    recv(fd, &status, sizeof status, 0);
    close(fd);
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ExecuteCliCommand)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ProcessPerCommand)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BareSocketRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace bootcrank

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (bootcrank::g_executorStarted) bootcrank::HvcliExecutor::Instance().Stop();
  return 0;
}
