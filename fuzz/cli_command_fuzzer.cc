// Feeds arbitrary bytes to the CLI option parser and through the dispatch of
// one request line, exactly as the executor process cuts a request: at most
// 1023 bytes, up to the first NUL.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cli/autocli_option_parser.h"
#include "cli/hvcli_dispatcher.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No extension directories exist below this root, so no command can touch
  // the machine; every path still runs through parsing and dispatch.
  setenv("BOOTCRANK_ROOT", "/nonexistent/bootcrank-fuzz-root", 1);
  dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);  // the log; libFuzzer reports on stderr
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string request(reinterpret_cast<const char*>(data), size < 1023 ? size : 1023);
  std::string line = request.substr(0, request.find('\0'));
  Toolbelt::AutoCli::OptionParser parser;
  bool nothingToRun = parser.ParseString(line);
  // Either nothing runs and the line is clean, or it failed to parse, or it
  // names a command.
  bool clean = parser.GetParseErrors().empty();
  if (nothingToRun ? !clean : clean && parser.GetCommandPath().empty()) abort();
  try {
    bootcrank::DispatchCommand(line);
  } catch (const std::exception&) {
    // Parse and execution errors are the expected outcome of most inputs.
  }
  return 0;
}
