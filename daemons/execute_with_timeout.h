// Command execution with a time-out: how daemon plugins run their init
// scripts.
//
// The command line is started as a child process (host::ForkExec) in "/",
// with standard input and output on /dev/null and standard error on the host
// log device, and watched by polling every 200 ms. In wait mode
// (Settings::daemonWait) it is watched for up to Settings::daemonWaitTimeout
// seconds and a process still running then is an error; otherwise it is
// watched for 10 seconds and then left to run on by itself. A process that
// ends within the watch period through a signal or with a non-zero exit code
// is an error in both modes.
//
// Thread-safe: all state is on the calling thread; each call waits for its own
// child only, so concurrent calls never reap each other's processes.
#ifndef BOOTCRANK_DAEMONS_EXECUTE_WITH_TIMEOUT_H_
#define BOOTCRANK_DAEMONS_EXECUTE_WITH_TIMEOUT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace bootcrank {

// Runs `commandLine` and watches it as above. Returns when it exited with 0
// within the watch period, or outside wait mode is still running at its end;
// throws Exception otherwise, with the command line as given in the text.
void ExecuteWithTimeout(const std::string& commandLine);

// The words of a command line: runs of white space separate them; there is
// no quoting, escaping or expansion. The first word is the program's path.
std::vector<std::string> SplitCommandWords(const std::string& commandLine);

// Number of 200 ms polls of the watch period: (timeout * 1000 + 199) / 200
// in unsigned 32-bit arithmetic in wait mode, 50 otherwise. A count of 0
// means the process is looked at once, without sleeping.
uint32_t WatchPollCount(bool wait, uint32_t timeoutSeconds);

}  // namespace bootcrank

#endif  // BOOTCRANK_DAEMONS_EXECUTE_WITH_TIMEOUT_H_
