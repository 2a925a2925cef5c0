// Command-line syntax of the CLI framework's parser.
#include <gtest/gtest.h>

#include "cli/autocli_option_parser.h"

namespace Toolbelt {
namespace AutoCli {
namespace {

using Strings = std::vector<std::string>;

TEST(OptionParserTest, WordsQuotesBackslashesAndEveryProblemOnce) {
  OptionParser parser;
  EXPECT_FALSE(parser.ParseString("a 'b"));  // an error, forgotten by the next parse
  EXPECT_FALSE(parser.ParseString(
      R"(  say	"two words" --a='it''s' --b="q\"uote \\ $x" --c=\'x\ y --d '-1' --e --f= --g='a\b')"));
  EXPECT_EQ(Strings{}, parser.GetParseErrors());
  EXPECT_EQ((std::list<std::string>{"say", "two words"}), parser.GetCommandPath());
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"a", "its"},
                                                              {"b", "q\"uote \\ $x"},
                                                              {"c", "'x y"},
                                                              {"d", "-1"},
                                                              {"e", "true"},
                                                              {"f", ""},
                                                              {"g", "a\\b"}}),
            parser.GetCommandParameters());
  for (const std::string line : {"   \t ", "file write --help", "x --help=1"}) {
    EXPECT_TRUE(parser.ParseString(line)) << "nothing to run in: " << line;
  }
  for (const auto& [line, errors] : std::vector<std::pair<std::string, Strings>>{
           {"x 'open", {"Unterminated single quote in: x 'open"}},
           {"x \"open\\\"", {"Unterminated double quote in: x \"open\\\""}},
           {"x trailing\\", {"Backslash at the end of: x trailing\\"}},
           {"x --=1 -- -y",
            {"Option without a name: '--=1'", "Option without a name: '--'",
             "Invalid option '-y': options begin with \"--\""}},
           {"--path=/x", {"Missing command before the options: --path=/x"}}}) {
    EXPECT_FALSE(parser.ParseString(line)) << line;
    EXPECT_EQ(errors, parser.GetParseErrors()) << line;
  }
}

}  // namespace
}  // namespace AutoCli
}  // namespace Toolbelt
