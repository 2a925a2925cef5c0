// hvcliExecutor: the CLI executor program that HvcliExecutor::Reset starts.
// It takes no arguments; the host root comes from BOOTCRANK_ROOT.
#include <exception>

#include "cli/executor_process.h"
#include "host/logging.h"

int main() {
  try {
    bootcrank::InitLogging("bootcrank");
  } catch (const std::exception&) {
    return 255;
  }
  return bootcrank::RunExecutorProcess();
}
