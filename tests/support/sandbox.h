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
  std::string out;  // standard output (the log records)
  std::string err;  // standard error
};

class Sandbox {
 public:
  // A new root under $TMPDIR (or /tmp) with the staged install copied in and
  // the host directories the program expects: dev/kmsg and dev/log (regular
  // files), var/log, var/run/quarro, bootbank, etc/quarro/bootcrank and the
  // empty plugin directory.
  Sandbox();
  // Stops an executor process left serving in this root, then removes it.
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& Root() const { return root_; }
  std::string Path(const std::string& absolute) const { return root_ + absolute; }
  std::string PluginDir() const { return Path("/usr/libexec/bootcrank/plugins"); }
  std::string Program() const { return Path("/usr/sbin/bootcrank"); }

  // Creates parent directories as needed.
  void WriteFile(const std::string& absolute, const std::string& content,
                 mode_t mode = 0644) const;
  std::string ReadFile(const std::string& absolute) const;
  bool Exists(const std::string& absolute) const;
  void MakeDirectory(const std::string& absolute) const;
  void Remove(const std::string& absolute) const;

  // Runs the installed program with `args` (not including argv[0]) and the
  // environment BOOTCRANK_ROOT=<root> plus `extraEnv` ("NAME=value"), stdin
  // on /dev/null. The program is killed (SIGKILL to its process group) after
  // `timeoutSeconds`, which then yields status 128 + 9.
  RunResult Run(const std::vector<std::string>& args, int timeoutSeconds = 60,
                const std::vector<std::string>& extraEnv = {}) const;

  // The environment Run uses, for tests that start the program themselves.
  std::vector<std::string> Environment(const std::vector<std::string>& extra = {}) const;

 private:
  std::string root_;
};

// Runs `argv` with `env` (null: inherit), stdin on /dev/null, capturing both
// output streams, killing it after `timeoutSeconds`.
RunResult RunProcess(const std::vector<std::string>& argv,
                     const std::vector<std::string>* env, int timeoutSeconds);

// Runs a shell command line; its exit status (or 128 + signal).
int Shell(const std::string& command);

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_SUPPORT_SANDBOX_H_
