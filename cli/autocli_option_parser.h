// The CLI framework's command-line parser.
//
// Syntax: words separated by blanks; single quotes group literally, double
// quotes group with backslash escapes; outside single quotes a backslash
// takes the next character literally. Quotes are removed. The leading words
// that do not begin with "-" form the command path; every later word is
// "--name=value", or "--name" followed by a value word, or "--name" followed
// by another option or the end (value "true"). A word counts as an option
// only when its "-" is neither quoted nor escaped, so '-1' is a value.
//
// Not thread-safe: one parser per command line.
#ifndef BOOTCRANK_CLI_AUTOCLI_OPTION_PARSER_H_
#define BOOTCRANK_CLI_AUTOCLI_OPTION_PARSER_H_

#include <list>
#include <string>
#include <utility>
#include <vector>

namespace Toolbelt {
namespace AutoCli {

class OptionParser {
 public:
  OptionParser() = default;

  // Parses `line`, replacing what an earlier call found. True when the line
  // parsed and there is nothing to run: it is blank, or it asks for --help.
  // Options without a command path (other than --help) are an error. False
  // otherwise, including when it has parse errors.
  bool ParseString(const std::string& line);

  // One text per problem, in the order found; empty when the line parsed.
  std::vector<std::string> GetParseErrors() const { return errors_; }
  std::vector<std::pair<std::string, std::string>> GetCommandParameters() const {
    return parameters_;
  }
  std::list<std::string> GetCommandPath() const { return path_; }

 private:
  struct Word {
    std::string text;
    bool option = false;  // begins with an unquoted, unescaped "-"
  };
  // Splits `line` into words; false (with an error recorded) on bad quoting.
  bool Split(const std::string& line, std::vector<Word>* words);

  std::vector<std::string> errors_;
  std::vector<std::pair<std::string, std::string>> parameters_;
  std::list<std::string> path_;
  bool help_ = false;
};

}  // namespace AutoCli
}  // namespace Toolbelt

#endif  // BOOTCRANK_CLI_AUTOCLI_OPTION_PARSER_H_
