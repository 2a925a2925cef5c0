// The subcommands of bootcrank-analyze and what they share: the table the
// dispatcher reads, the exit statuses, option parsing and the choice of
// record.
//
// Every subcommand gets its arguments (after its name), the two output
// streams and whether standard output takes colour, and returns the exit
// status. A UsageError or RecordError that escapes it becomes a message on
// standard error and status 2.
#ifndef BOOTCRANK_ANALYZE_COMMAND_H_
#define BOOTCRANK_ANALYZE_COMMAND_H_

#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

// Exit statuses of the program.
enum ExitStatus {
  kExitOk = 0,
  kExitFindings = 1,  // the data holds what the command looks for (diff: new failures; fleet:
                      // unreadable records)
  kExitUsage = 2,     // bad command line, or a record that cannot be read
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Invocation {
  std::string command;
  std::vector<std::string> args;
  std::ostream& out;
  std::ostream& err;
  bool colour;  // standard output is a terminal that takes colour
};

struct Command {
  const char* name;
  const char* arguments;  // the synopsis after the name
  const char* summary;
  int (*run)(const Invocation&);
};

// The dispatcher's table, in the order `--help` lists it. A subcommand is
// added by adding a row.
const std::vector<Command>& Commands();

// The subcommands' entry points (one file each).
int RunBlame(const Invocation& call);
int RunCriticalChain(const Invocation& call);
int RunPlot(const Invocation& call);
int RunReport(const Invocation& call);
int RunTrace(const Invocation& call);
int RunWhatIf(const Invocation& call);
int RunDiff(const Invocation& call);
int RunFleet(const Invocation& call);
int RunVerify(const Invocation& call);

// A subcommand's command line: options and positional arguments.
class Arguments {
 public:
  // `options` names the accepted options; a name ending in "=" takes a
  // value ("--workers=" accepts "--workers=4" and "--workers 4"). "--"
  // ends the options. Throws UsageError for anything else that starts
  // with "-" (a lone "-" is positional).
  Arguments(const std::vector<std::string>& args, const std::vector<std::string>& options);
  bool Flag(const std::string& name) const;
  // Every value given to `name` (without its "="), in order.
  std::vector<std::string> Values(const std::string& name) const;
  // The output file of -o or --output, whichever came last; "" for none.
  std::string OutputPath() const;
  const std::vector<std::string>& Positional() const { return positional_; }
  // Throws UsageError unless there are between `min` and `max` positionals.
  void ExpectPositional(size_t min, size_t max) const;

 private:
  std::vector<std::pair<std::string, std::string>> given_;
  std::vector<std::string> positional_;
};

// The record named by `path`, or the newest one when `path` is empty.
BootRecord LoadRecord(const std::string& path);

// Throws RecordError saying that `command` needs what a profiling log lacks.
void RequireGraph(const BootRecord& record, const std::string& command);

// Writes the note that `record` lacks what Missing() names, when it does.
void NoteMissing(const BootRecord& record, std::ostream& err);

// A whole number in `text`, or UsageError naming `what`.
long long ParseNumber(const std::string& text, const std::string& what);

// Writes `text` to `path`, or to `out` when `path` is empty or "-".
// Throws RecordError when the file cannot be written.
void WriteOutput(const std::string& text, const std::string& path, std::ostream& out);

// `value` as JSON text, indented by `indent` spaces a level (-1: on one
// line). Names come from file and plugin names, which need not be UTF-8:
// bytes that are not are written as U+FFFD instead of failing the output.
std::string JsonText(const nlohmann::json& value, int indent = 1);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_COMMAND_H_
