// HvcliExecutor: the client of the long-lived CLI executor process, and,
// after the fork, the owner of its control socket and event loop.
//
// Thread-safety: Instance, Reset and Stop run on the main thread; Execute may
// run on several worker threads at once, each with its own connection.
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
  // ... the implementation adds its private state and operations here.
};

}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_HVCLI_EXECUTOR_H_
