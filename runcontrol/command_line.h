// The command line: option parsing, the usage text and the combination checks.
#ifndef BOOTCRANK_RUNCONTROL_COMMAND_LINE_H_
#define BOOTCRANK_RUNCONTROL_COMMAND_LINE_H_

#include <set>
#include <string>
#include <vector>

#include "base/settings.h"

namespace bootcrank {

// What main keeps from the command line besides the Settings fields.
struct CommandLine {
  std::vector<std::string> pluginNames;  // --plugin, appended, duplicates kept
  std::set<std::string> bootFlags;       // --plugin-flags, last occurrence
  std::set<std::string> runOnce;         // --run-once, appended
  std::string pluginDirectory;           // --plugin-directory, as given
  bool pluginDirectoryGiven = false;     // false: the default directory
  bool dump = false;                     // --dump-dependency-tree
  bool dumpToFile = false;               // ... with a path
  std::string dumpPath;
  bool init = false;
  bool daemon = false;
  bool stop = false;  // daemon mode runs method "stop"
};

enum class ParseResult {
  kRun,    // options read; go on
  kHelp,   // --help: usage printed, exit 0
  kError,  // getopt_long's diagnostic and the "usage: " line printed, exit 1
};

// Reads the options into `settings` and `line` with getopt_long, as main
// does. Prints the usage text for --help and the error line for a bad option.
ParseResult ParseCommandLine(int argc, char** argv, Settings& settings, CommandLine& line);

enum class Combination {
  kValid,
  kInvalid,           // "Invalid combination of options passed. Exiting\n"
  kInvokeIncomplete,  // "invoke requires a method and plugin specified\n"
};

// Checks the options' combination; sets line.stop for a daemon stop run.
Combination CheckCombination(const Settings& settings, CommandLine& line);

// The usage text of --help, byte for byte.
extern const char kUsageText[];

// Splits `text` at every "," and adds each non-empty piece, untrimmed.
void SplitCommaList(const std::string& text, std::vector<std::string>& out);
void SplitCommaList(const std::string& text, std::set<std::string>& out);

// Strict decimal parsers for option arguments: false for an empty text, a
// text that is not a number, or one out of range.
bool ParseSeed(const char* text, int64_t& seed);         // signed 32-bit, +/-
bool ParseTimeout(const char* text, uint32_t& seconds);  // unsigned 32-bit, +

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_COMMAND_LINE_H_
