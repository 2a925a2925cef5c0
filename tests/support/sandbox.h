// End-to-end harness: a sandbox host root holding a copy of the staged
// install, and the installed program run in it with BOOTCRANK_ROOT.
#ifndef BOOTCRANK_TESTS_SUPPORT_SANDBOX_H_
#define BOOTCRANK_TESTS_SUPPORT_SANDBOX_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace bootcrank {
namespace testing {

struct RunResult {
  int status = -1;  // exit code, or 128 + signal
  std::string out, err;
};

// `argv` with `env` (null: inherit) in a process group of its own, stdin on
// /dev/null, its output going to unlinked files. The destructor kills what
// still runs.
class Started {
 public:
  Started(const std::vector<std::string>& argv, const std::vector<std::string>* env);
  ~Started();
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  pid_t Pid() const { return pid_; }
  std::string Output(int stream = 1) const;  // so far, of standard output (1) or error (2)
  // Waits until its standard output holds `text`; false after the time-out.
  bool AwaitOutput(const std::string& text, int timeoutSeconds) const;
  // Waits for it to end; after `timeoutSeconds` its group is killed (137).
  RunResult Wait(int timeoutSeconds);

 private:
  pid_t pid_ = -1;
  int files_[2] = {-1, -1};
  bool waited_ = false;
};

class Sandbox {
 public:
  // A new root under $TMPDIR (or /tmp): the staged install, files dev/kmsg
  // and dev/log, the program's directories and an empty plugin directory.
  Sandbox();
  ~Sandbox();  // stops an executor left serving in the root, removes it
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& Root() const { return root_; }
  std::string Path(const std::string& absolute) const { return root_ + absolute; }
  std::string PluginDir() const { return Path("/usr/libexec/bootcrank/plugins"); }
  std::string Program() const { return Path("/usr/sbin/bootcrank"); }

  // Paths below the root; WriteFile creates parent directories.
  void WriteFile(const std::string& absolute, const std::string& content, mode_t mode = 0644) const;
  void WritePlugin(const std::string& file, const std::string& content, mode_t mode = 0644) const {
    WriteFile("/usr/libexec/bootcrank/plugins/" + file, content, mode);
  }
  std::string ReadFile(const std::string& absolute) const;
  bool Exists(const std::string& absolute) const;
  void MakeDirectory(const std::string& absolute) const;
  void Remove(const std::string& absolute) const;

  // The installed program with Environment(), run or started.
  RunResult Run(const std::vector<std::string>& args, int timeoutSeconds = 60) const;
  Started Start(const std::vector<std::string>& args) const;
  // BOOTCRANK_ROOT=<root>, PATH and the sanitizer options of the suite.
  std::vector<std::string> Environment() const;

 private:
  std::string root_;
};

// Started(argv, env).Wait(timeoutSeconds).
RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>* env,
                     int timeoutSeconds);
int Shell(const std::string& command);         // exit status (or 128 + signal)
std::string ReadAll(const std::string& path);  // "" when unreadable

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_SUPPORT_SANDBOX_H_
