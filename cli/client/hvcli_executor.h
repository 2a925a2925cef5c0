// HvcliExecutor: the client of the long-lived CLI executor process.
//
// Stop waits at most 5 seconds for the executor to close the stop connection;
// when it does not, or when its socket is gone while its process runs, Stop
// ends the process that Reset started by its pid: SIGTERM, then SIGKILL.
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
// The executor process is started by Reset (possibly from a worker thread
// that holds GraphLock) as a fresh image of the executor program, HostPath of
// "/usr/lib/quarro/bootcrank/hvcliExecutor" (cli/executor_process.h), with
// an empty signal mask, default signal dispositions and no descriptor but
// the standard streams; it clears what is left at the socket path (a stale
// socket, a file, a link) and detaches with daemon(3) once its socket
// listens.
#ifndef BOOTCRANK_CLI_CLIENT_HVCLI_EXECUTOR_H_
#define BOOTCRANK_CLI_CLIENT_HVCLI_EXECUTOR_H_

#include <mutex>
#include <string>

#include "host/process.h"

namespace bootcrank {

class HvcliExecutor {
 public:
  // The process's executor client; the first call also ignores SIGPIPE.
  static HvcliExecutor& Instance();

  virtual ~HvcliExecutor();
  HvcliExecutor(const HvcliExecutor&) = delete;
  HvcliExecutor& operator=(const HvcliExecutor&) = delete;

  // A client socket connected to an executor of this program's user, or -1
  // with errno set. A listener of another user at the socket path is
  // refused whatever `logFailure` says ("Refusing the executor control
  // socket <path>: it is served by uid <uid> (pid <pid>), not by uid
  // <uid>", level 110) and gets nothing; a symbolic link there is not
  // followed (ELOOP).
  int Connect(bool logFailure);
  // Makes sure an executor process is serving; starts one when none
  // answers, and waits until it listens. Throws Exception.
  void Reset();
  // Asks the executor process to stop. Throws Exception.
  void Stop();
  // Sends one command line and returns when the executor reports success.
  // Throws Exception when it is longer than cli::kMaxCommandLineBytes
  // (nothing is sent), cannot be sent, no status comes back, or the status
  // reports failure.
  void Execute(const std::string& commandLine);
  // The same for a command of the plugin `requester`: while the answer takes
  // longer than 10 seconds, a status line naming the plugin and the command
  // is logged every 10 seconds; the wait has no end of its own. After a
  // termination signal it stops waiting and throws.
  void Execute(const std::string& commandLine, const std::string& requester);

 private:
  HvcliExecutor();
  // Ends the executor process that Reset started (only that one, by its
  // pidfd): SIGTERM, then SIGKILL after a grace period. Logs why.
  void EndProcess(const char* why);

  std::mutex processMutex_;
  host::ProcessHandle process_;  // guarded by processMutex_; the one Reset started
};

}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_CLIENT_HVCLI_EXECUTOR_H_
