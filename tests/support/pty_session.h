// A child process on a real pseudo-terminal, driven from the master side:
// for tests of the console prompt and of the program in interactive runs.
#ifndef BOOTCRANK_TESTS_SUPPORT_PTY_SESSION_H_
#define BOOTCRANK_TESTS_SUPPORT_PTY_SESSION_H_

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

namespace bootcrank {
namespace testing {

class PtySession {
 public:
  // Forks a child that leads a new session whose controlling terminal is the
  // slave of a new pseudo-terminal, on its standard input, output and error.
  // Output post-processing is off, so the master reads exactly the bytes the
  // child wrote. The child runs `body` and exits with its result (standard
  // output flushed first); `body` may also exec.
  explicit PtySession(const std::function<int()>& body);
  // Kills the child if it still runs (SIGKILL to its process group), reaps
  // it and closes the master.
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  // Types `bytes` on the terminal.
  void Send(const std::string& bytes);
  // Reads until the output read so far contains `needle` at or after
  // position `from`; false when the terminal closed or `timeoutSeconds`
  // passed first.
  bool WaitFor(const std::string& needle, size_t from = 0, int timeoutSeconds = 30);
  // Polls the terminal's settings until `holds` returns true for them; false
  // after `timeoutSeconds`.
  bool WaitForSettings(const std::function<bool(const struct termios&)>& holds,
                       int timeoutSeconds = 30);
  // The terminal's current settings, read from the master side.
  struct termios Settings() const;
  // Hangs the terminal up from the master side: the child's reads then see
  // end of input. Output written afterwards is lost.
  void Hangup();
  // Reads everything until the child and every process holding the terminal
  // closed it, and reaps the child: its exit code, 128 + signal, or -1 after
  // `timeoutSeconds` (the child is killed then).
  int Finish(int timeoutSeconds = 60);

  const std::string& Output() const { return output_; }
  pid_t Pid() const { return pid_; }

 private:
  // One read of what is available within `milliseconds`; false at the end.
  bool ReadSome(int milliseconds);
  int Reap(bool block);

  int master_ = -1;
  pid_t pid_ = -1;
  int status_ = -1;  // set once reaped
  std::string output_;
};

// A PtySession body that replaces the child with `program` (argument vector
// `argv`, environment `env`); 127 when that fails.
std::function<int()> ExecBody(const std::string& program,
                              const std::vector<std::string>& argv,
                              const std::vector<std::string>& env);

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_SUPPORT_PTY_SESSION_H_
