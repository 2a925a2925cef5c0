// A child process on a real pseudo-terminal, driven from the master side.
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
  // Forks a child leading a new session on the slave of a new terminal (its
  // standard streams), output post-processing off; it exits with `body`'s
  // result, standard output flushed. `body` may exec.
  explicit PtySession(const std::function<int()>& body);
  ~PtySession();  // kills the child's process group if it still runs
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  void Send(const std::string& bytes);  // types on the terminal
  // Reads until the output contains `needle` at or after `from`; false when
  // the terminal closed or the time ran out first.
  bool WaitFor(const std::string& needle, size_t from = 0, int timeoutSeconds = 30);
  // Reads until `holds` accepts the terminal's settings; false on time-out.
  bool WaitForSettings(const std::function<bool(const struct termios&)>& holds,
                       int timeoutSeconds = 30);
  // Reads until the child ended and the terminal went quiet: the child's
  // exit code, 128 + signal, or -1 after the time-out (the child is killed).
  int Finish(int timeoutSeconds = 60);
  const std::string& Output() const { return output_; }

 private:
  bool ReadSome(int milliseconds);  // one read; false at the end
  int Reap(bool block);
  void Kill();  // the child's process group, then reaps it

  int master_ = -1;
  pid_t pid_ = -1;
  int status_ = -1;  // set once reaped
  std::string output_;
};

// A PtySession body that execs `program` with `argv` and `env`; 127 on failure.
std::function<int()> ExecBody(const std::string& program, const std::vector<std::string>& argv,
                              const std::vector<std::string>& env);

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_SUPPORT_PTY_SESSION_H_
