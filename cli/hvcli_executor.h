// HvcliExecutor: the client of the long-lived CLI executor process, and,
// after the fork, the owner of its control socket and event loop.
//
// Thread-safety: Instance, Reset and Stop run on the main thread; Execute may
// run on several worker threads at once, each with its own connection, and
// holds GraphLock only around the Reset that follows a failed connection.
//
// Control protocol (UNIX stream socket at HostPath of
// "/var/run/quarro/bootcrankExecutor.sock"): one request per connection. The
// client sends the command line with one send and shuts its writing side;
// the executor reads at most 1023 bytes with one receive, runs the text up to
// the first NUL and answers a 4-byte status in host order (0 success,
// 1 failure). A request whose first four bytes are "stop" in any case stops
// the executor and gets no reply.
//
// The executor process is forked by Reset (possibly from a worker thread that
// holds GraphLock) and detached with daemon(3). Nothing it runs takes
// GraphLock or reads the settings object; it inherits no descriptor but its
// standard streams, which go to HostPath of
// "/var/log/bootcrank-hvcli-stdout.log".
#ifndef BOOTCRANK_CLI_HVCLI_EXECUTOR_H_
#define BOOTCRANK_CLI_HVCLI_EXECUTOR_H_

#include <pthread.h>

#include <string>

namespace bootcrank {

class HvcliExecutor {
 public:
  // The process's executor client; the first call also ignores SIGPIPE.
  static HvcliExecutor& Instance();

  virtual ~HvcliExecutor();
  HvcliExecutor(const HvcliExecutor&) = delete;
  HvcliExecutor& operator=(const HvcliExecutor&) = delete;

  // A connected client socket, or -1.
  int Connect(bool logFailure);
  // Makes sure an executor process is serving; forks one when none answers.
  // Throws Exception.
  void Reset();
  // Asks the executor process to stop. Throws Exception.
  void Stop();
  // Sends one command line and returns when the executor reports success.
  // Throws Exception when it cannot be sent, no status comes back, or the
  // status reports failure.
  void Execute(const std::string& commandLine);

 private:
  HvcliExecutor();

  // Executor-process side.
  // The child of Reset's fork: sets up the control socket, detaches and
  // serves until a stop request. Never returns.
  [[noreturn]] void RunExecutorProcess();
  // Creates, binds and listens on the control socket; sets controlSocket.
  // Throws Exception.
  void OpenControlSocket();
  // Starts eventLoopThread. Throws Exception.
  void StartEventLoop();
  static void* EventLoopThreadBody(void* executor);

  int controlSocket;          // listening socket; -1 outside the executor process
  pthread_t eventLoopThread;  // all bits set until StartEventLoop
};

}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_HVCLI_EXECUTOR_H_
