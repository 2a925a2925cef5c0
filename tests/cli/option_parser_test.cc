// Command-line syntax of the CLI framework's parser.
#include <gtest/gtest.h>

#include "cli/autocli_option_parser.h"

namespace Toolbelt {
namespace AutoCli {
namespace {

using Parameters = std::vector<std::pair<std::string, std::string>>;
using Path = std::list<std::string>;

struct Parsed {
  bool nothingToRun;
  Path path;
  Parameters parameters;
  std::vector<std::string> errors;
};

Parsed Parse(const std::string& line) {
  OptionParser parser;
  bool nothing = parser.ParseString(line);
  return {nothing, parser.GetCommandPath(), parser.GetCommandParameters(),
          parser.GetParseErrors()};
}

TEST(OptionParserTest, SplitsPathAndParameters) {
  Parsed p = Parse("  file\twrite --path=/a/b --content hello --force --mode=");
  EXPECT_FALSE(p.nothingToRun);
  EXPECT_EQ((Path{"file", "write"}), p.path);
  EXPECT_EQ((Parameters{{"path", "/a/b"}, {"content", "hello"}, {"force", "true"}, {"mode", ""}}),
            p.parameters);
  EXPECT_TRUE(p.errors.empty());
}

TEST(OptionParserTest, QuotesAndBackslashesGroupAndAreRemoved) {
  Parsed p = Parse(R"(say "two words" --a='it''s' --b="q\"uote \\ $x" --c=\'x\ y --d '-1')");
  EXPECT_TRUE(p.errors.empty());
  EXPECT_EQ((Path{"say", "two words"}), p.path);
  EXPECT_EQ((Parameters{{"a", "its"}, {"b", "q\"uote \\ $x"}, {"c", "'x y"}, {"d", "-1"}}),
            p.parameters);
  // Inside single quotes a backslash is an ordinary character.
  EXPECT_EQ((Parameters{{"v", "a\\b"}}), Parse(R"(x --v='a\b')").parameters);
  // An empty quoted word is still a word.
  EXPECT_EQ((Parameters{{"v", ""}}), Parse("x --v ''").parameters);
}

TEST(OptionParserTest, BlankLinesAndHelpHaveNothingToRun) {
  for (const std::string line : {"", "   \t ", "--help", "file write --help", "x --help=1"}) {
    Parsed p = Parse(line);
    EXPECT_TRUE(p.nothingToRun) << line;
    EXPECT_TRUE(p.errors.empty()) << line;
  }
}

TEST(OptionParserTest, ReportsEveryProblemOnce) {
  struct Case {
    std::string line;
    std::vector<std::string> errors;
  } cases[] = {
      {"x 'open", {"Unterminated single quote in: x 'open"}},
      {"x \"open\\\"", {"Unterminated double quote in: x \"open\\\""}},
      {"x trailing\\", {"Backslash at the end of: x trailing\\"}},
      {"x --a b c", {"Unexpected argument 'c' after the options"}},
      {"x --a=1 b", {"Unexpected argument 'b' after the options"}},
      {"x --=1 -- -y",
       {"Option without a name: '--=1'", "Option without a name: '--'",
        "Invalid option '-y': options begin with \"--\""}},
      {"--path=/x", {"Missing command before the options: --path=/x"}},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(c.line);
    EXPECT_FALSE(p.nothingToRun) << c.line;
    EXPECT_EQ(c.errors, p.errors) << c.line;
  }
}

TEST(OptionParserTest, ReparsingForgetsTheEarlierLine) {
  OptionParser parser;
  EXPECT_FALSE(parser.ParseString("a 'b"));
  EXPECT_FALSE(parser.ParseString("c --d=e"));
  EXPECT_TRUE(parser.GetParseErrors().empty());
  EXPECT_EQ((Path{"c"}), parser.GetCommandPath());
  EXPECT_EQ((Parameters{{"d", "e"}}), parser.GetCommandParameters());
}

}  // namespace
}  // namespace AutoCli
}  // namespace Toolbelt
