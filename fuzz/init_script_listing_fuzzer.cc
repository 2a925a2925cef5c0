// Fuzzes the parser of the init-script listing ("<path> <priority>" lines):
// every non-blank line becomes either an entry or a malformed line, entries
// come out in stable ascending priority order, and no path is empty or holds
// white space.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "daemons/init_script_daemons.h"

static void Check(bool condition) {
  if (!condition) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text), lines(text);
  bootcrank::InitScriptListing listing = bootcrank::ParseInitScriptListing(in);
  // Recount the lines independently: each one yields exactly one outcome.
  size_t contentLines = 0, entryLines = 0;
  for (std::string line; std::getline(lines, line);) {
    bootcrank::InitScriptEntry entry;
    if (bootcrank::ParseInitScriptLine(line, &entry)) {
      ++entryLines;
      Check(!entry.path.empty());
      for (char c : entry.path) Check(!isspace(static_cast<unsigned char>(c)));
    }
    contentLines += line.find_first_not_of(" \t\n\v\f\r") != std::string::npos;
  }
  Check(listing.entries.size() == entryLines);
  Check(listing.entries.size() + listing.malformed.size() == contentLines);
  for (size_t i = 1; i < listing.entries.size(); ++i) {
    Check(listing.entries[i - 1].priority <= listing.entries[i].priority);
  }
  return 0;
}
