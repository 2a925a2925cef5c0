#include "daemons/execute_with_timeout.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cerrno>
#include <sstream>

#include "host/error_text.h"
#include "host/fork_exec.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/open_file.h"
#include "host/log.h"
#include "host/process.h"
#include "host/unique_fd.h"
#include "base/exception.h"
#include "base/settings.h"

namespace bootcrank {

namespace {

constexpr long kPollIntervalMilliseconds = 200;
constexpr uint32_t kNoWaitPollCount = 50;  // 10 seconds

using host::ErrorText;

// Watches `pid` for `polls` intervals; returns the error text, empty for
// success. `timedOut` tells whether the watch period ended first.
std::string Watch(pid_t pid, uint32_t polls, const std::string& commandLine, bool* timedOut) {
  const std::string prefix = "Execution of command: " + commandLine;
  *timedOut = false;
  for (;;) {
    int status = -1;
    pid_t result = host::WaitForChild(pid, &status, WNOHANG);
    if (result == 0) {
      if (polls > 0) {
        host::SleepMilliseconds(kPollIntervalMilliseconds);
        --polls;
      }
      if (polls == 0) {
        *timedOut = true;
        return std::string();
      }
      continue;
    }
    if (result != pid) return prefix + " failed <unknown_error>";
    if (WIFSIGNALED(status)) {
      return prefix + " failed with signal: " + std::to_string(WTERMSIG(status));
    }
    if (WIFEXITED(status)) {
      int code = WEXITSTATUS(status);
      return code == 0 ? std::string() : prefix + " failed with status: " + std::to_string(code);
    }
    return prefix + " failed <unknown_error>";
  }
}

}  // namespace

std::vector<std::string> SplitCommandWords(const std::string& commandLine) {
  std::istringstream in(commandLine);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

uint32_t WatchPollCount(bool wait, uint32_t timeoutSeconds) {
  if (!wait) return kNoWaitPollCount;
  return (timeoutSeconds * 1000u + 199u) / 200u;
}

void ExecuteWithTimeout(const std::string& commandLine) {
  const uint32_t userId = host::RealUserId();
  const uint32_t groupId = host::RealGroupId();

  // The words stay alive until the call returns; argv points into them.
  std::vector<std::string> words = SplitCommandWords(commandLine);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  std::string program = words.empty() ? std::string() : words.front();

  host::UniqueFd rootDirectory(
      host::OpenWithoutWaiting(host::kRootDirectoryPath, O_RDONLY | O_DIRECTORY));
  const int root = rootDirectory.Get();
  if (!(root > 0)) Panic("VERIFY %s:%d\n", "DaemonPlugin", __LINE__);
  host::UniqueFd nullDevice(host::OpenWithoutWaiting(host::kNullDevicePath, O_RDWR));
  int null = nullDevice.Get();
  if (null < 0) {
    Log_Level(kLogWarning, "opening /dev/null failed\n");
    null = root;
  }
  // Appending, so that the outputs of successive commands follow one another
  // where the log device is a plain file; a FIFO nobody reads fails (ENXIO)
  // instead of holding the run.
  host::UniqueFd logDevice(
      host::OpenWithoutWaiting(host::HostPath(host::kLogDevicePath), O_WRONLY | O_APPEND));
  int log = logDevice.Valid() ? logDevice.Get() : null;

  const Settings& settings = Settings::Instance();
  char* noEnvironment[] = {nullptr};
  char* const* environment = settings.environment != nullptr ? settings.environment : noEnvironment;

  int32_t descriptors[3] = {null, null, log};
  int32_t pid = -1;
  host::ForkExecOptions options = {3, userId, groupId, 0, &pid};
  std::string error;
  int status =
      host::ForkExec(program.c_str(), argv.data(), environment, root, descriptors, &options);
  if (status != 0) {
    error = "failed to ForkExec '" + commandLine + "' : " + ErrorText(status);
  } else {
    bool timedOut = false;
    error = Watch(pid, WatchPollCount(settings.daemonWait, settings.daemonWaitTimeout), commandLine,
                  &timedOut);
    // A process still running is left alone: no signal, no further wait.
    if (timedOut && settings.daemonWait) {
      error = "Execution of command: '" + commandLine + "' timed out.";
    }
  }

  if (!error.empty()) throw Exception(error);
}

}  // namespace bootcrank
