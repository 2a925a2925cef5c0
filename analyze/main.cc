// bootcrank-analyze: reads bootcrank's boot records and profiling logs and
// answers where the boot's time went.
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <new>

#include "analyze/command.h"
#include "analyze/table.h"
#include "host/error_text.h"
#include "host/process.h"

namespace {

using namespace bootcrank::analyze;

void Usage(std::ostream& out) {
  out << "Usage: bootcrank-analyze COMMAND [OPTION]... [ARGUMENT]...\n"
         "Analyses bootcrank's boot records (/var/log/bootcrank/*.json below $BOOTCRANK_ROOT;\n"
         "the newest when none is named) and profiling logs.\n\nCommands:\n";
  for (const Command& c : Commands())
    out << "  " << c.name << " " << c.arguments << "\n      " << c.summary << "\n";
  out << "\nOptions of every command:\n"
         "  --json          machine-readable output\n"
         "  --help          this text\n"
         "\nExit status: 0 success, 1 findings in the data (diff: new failures;\n"
         "fleet: unreadable records), 2 usage error or unreadable record.\n"
         "See bootcrank-analyze(8) and bootcrank-record(5).\n";
}

}  // namespace

int main(int argc, char** argv) {
  bootcrank::host::IgnoreBrokenPipes();
  std::ios::sync_with_stdio(false);
  if (argc < 2) {
    Usage(std::cerr);
    return kExitUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    Usage(std::cout);
    return kExitOk;
  }
  if (name == "--version") {
    std::cout << "bootcrank-analyze " << BOOTCRANK_VERSION << "\n";
    return kExitOk;
  }
  const Command* command = nullptr;
  for (const Command& c : Commands())
    if (name == c.name) command = &c;
  if (command == nullptr) {
    std::cerr << "bootcrank-analyze: unknown command '" << name
              << "'\nTry 'bootcrank-analyze --help'.\n";
    return kExitUsage;
  }
  Invocation call{name, std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr,
                  ColourWanted(STDOUT_FILENO)};
  for (const std::string& arg : call.args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      std::cout << "Usage: bootcrank-analyze " << command->name << " " << command->arguments << "\n"
                << command->summary << "\n";
      return kExitOk;
    }
  }
  int status;
  try {
    status = command->run(call);
  } catch (const UsageError& e) {
    std::cerr << "bootcrank-analyze " << name << ": " << e.what() << "\nUsage: bootcrank-analyze "
              << command->name << " " << command->arguments << "\n";
    return kExitUsage;
  } catch (const RecordError& e) {
    std::cerr << "bootcrank-analyze " << name << ": " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    std::cerr << "bootcrank-analyze " << name << ": out of memory\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "bootcrank-analyze " << name << ": " << e.what() << "\n";
    return kExitUsage;
  }
  std::cout.flush();
  if (!std::cout && errno != EPIPE) {
    std::cerr << "bootcrank-analyze " << name
              << ": cannot write the output: " << bootcrank::host::ErrorText(errno) << "\n";
    return kExitUsage;
  }
  return status;
}
