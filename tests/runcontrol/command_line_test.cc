#include "runcontrol/command_line.h"

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace bootcrank {
namespace {

struct Parsed {
  Settings settings = Settings::Instance();  // a copy: defaults plus seed
  CommandLine line;
  ParseResult result;
};
Parsed Parse(std::vector<std::string> args) {  // `args` after the program name
  Parsed p;
  std::vector<char*> argv{const_cast<char*>("bootcrank")};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::LogCapture quiet;
  p.result = ParseCommandLine(static_cast<int>(argv.size() - 1), argv.data(), p.settings, p.line);
  return p;
}

// The usage text, the refused combinations and a stop run are checked end
// to end (CommandLineE2E, DaemonModeE2E).
TEST(CommandLineTest, CollectionsAppendSplitOrReplace) {
  Parsed p = Parse({"--plugin-flags=a,b", "--plugin-flags=c", "--plugin=a", "--plugin", "b,c",
                    "--run-once=x,y", "--run-once=x", "--plugin=,d,, e,", "--disable-plugins=n1,n2",
                    "--disable-plugins=n3", "--interactive-mode-requires=i1",
                    "--interactive-mode-requires=i2,i3"});
  ASSERT_EQ(p.result, ParseResult::kRun);
  EXPECT_EQ(p.line.bootFlags, (std::set<std::string>{"c"}));
  EXPECT_EQ(p.line.pluginNames, (std::vector<std::string>{"a", "b", "c", "d", " e"}));
  EXPECT_EQ(p.line.runOnce, (std::set<std::string>{"x", "y"}));
  EXPECT_EQ(p.settings.disabledPlugins, (std::vector<std::string>{"n1", "n2", "n3"}));
  EXPECT_EQ(p.settings.interactiveRequires, (std::vector<std::string>{"i1", "i2", "i3"}));
}

TEST(CommandLineTest, NumbersAndSwitches) {
  Settings last = Parse({"--parallel", "--interactive"}).settings,
           first = Parse({"--interactive", "--parallel"}).settings;
  EXPECT_EQ(
      (std::vector<bool>{false, true, true, false}),
      (std::vector<bool>{last.parallel, last.interactive, first.parallel, first.interactive}));

  // The seed only when attached and a valid 32-bit number; the flag in any case.
  int64_t creation = Settings::Instance().randomSeed;
  for (const auto& [args, seed] : std::vector<std::pair<std::vector<std::string>, int64_t>>{
           {{"--randomize", "42"}, creation},
           {{"--randomize=+7"}, 7},
           {{"--randomize=-2147483648"}, INT32_MIN},
           {{"--randomize=2147483648"}, creation},
           {{"--randomize="}, creation},
           {{"--randomize=12a"}, creation}}) {
    Parsed p = Parse(args);
    EXPECT_TRUE(p.settings.randomize) << args[0];
    EXPECT_EQ(p.settings.randomSeed, seed) << args[0];
  }
  // Unsigned 32-bit only; otherwise the default of 40.
  const std::string timeouts[] = {"+7", "4294967295", "abc", "", "-1", "4294967296", "7s"};
  const uint32_t expected[] = {7, 4294967295u, 40, 40, 40, 40, 40};
  for (size_t i = 0; i < std::size(timeouts); ++i) {
    EXPECT_EQ(Parse({"--daemon-wait-timeout=" + timeouts[i]}).settings.daemonWaitTimeout,
              expected[i])
        << timeouts[i];
  }
}

TEST(CommandLineTest, CombinationRules) {
  using A = std::vector<std::string>;
  for (const auto& [args, expected] : std::vector<std::pair<A, Combination>>{
           {{"--daemon", "--method=start"}, Combination::kValid},
           {{"--daemon", "--method=start", "--dump-dependency-tree"}, Combination::kValid},
           {{"--invoke", "--plugin=a.json"}, Combination::kInvokeIncomplete},
           {{"--invoke", "--plugin=a.json", "--method=start", "--init"}, Combination::kValid}}) {
    Parsed p = Parse(args);
    EXPECT_EQ(CheckCombination(p.settings, p.line), expected) << args.back();
  }
  EXPECT_TRUE(Parse({"--daemon=wait"}).settings.daemonWait);
}

}  // namespace
}  // namespace bootcrank
