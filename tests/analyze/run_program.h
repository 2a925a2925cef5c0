// Runs a program (the analyser, or a browser) as a child process with its
// own environment, and collects its exit status and both output streams.
#ifndef BOOTCRANK_TESTS_ANALYZE_RUN_PROGRAM_H_
#define BOOTCRANK_TESTS_ANALYZE_RUN_PROGRAM_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace testing {

struct Output {
  int status = -1;  // exit status; 128 + signal; -1 when it could not run or was killed at the deadline
  std::string out, err;
};

inline std::string Slurp(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Runs `argv` with `env` added to (or, "NAME" alone, removed from) this
// process's environment; kills it after `timeoutSeconds`.
inline Output RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                         int timeoutSeconds = 60) {
  ScratchDir scratch;
  std::string outPath = scratch.path + "/out", errPath = scratch.path + "/err";
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& e : env) {
      size_t eq = e.find('=');
      if (eq == std::string::npos) unsetenv(e.c_str());
      else setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    setpgid(0, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  Output result;
  if (pid < 0) return result;
  int status = 0;
  for (int waited = 0;; ++waited) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (waited >= timeoutSeconds * 20) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    struct timespec pause = {0, 50 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  // The whole process group: a browser leaves helpers behind otherwise.
  kill(-pid, SIGKILL);
  if (status == -1) result.status = -1;
  else if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  return result;
}

}  // namespace testing
}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_ANALYZE_RUN_PROGRAM_H_
