// hvcliExecutor: the CLI executor program that HvcliExecutor::Reset starts.
//
//   hvcliExecutor [--report-pid-fd=N]
//
// With the option, the detached executor writes its pid to descriptor N and
// closes it once it serves. The host root comes from BOOTCRANK_ROOT.
#include <exception>
#include <string>

#include "cli/executor_process.h"
#include "host/logging.h"

int main(int argc, char** argv) {
  int pidReport = -1;
  const std::string option = "--report-pid-fd=";
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument.compare(0, option.size(), option) == 0 && argument.size() == option.size() + 1 &&
        argument.back() >= '3' && argument.back() <= '9') {
      pidReport = argument.back() - '0';
    } else {
      return 2;
    }
  }
  try {
    bootcrank::InitLogging("bootcrank");
  } catch (const std::exception&) {
    return 255;
  }
  return bootcrank::RunExecutorProcess(pidReport);
}
