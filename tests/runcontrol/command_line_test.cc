#include "runcontrol/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/log_capture.h"

namespace bootcrank {
namespace {

// Parses `args` (after the program name) into fresh objects.
struct Parsed {
  Settings settings = Settings::Instance();  // a copy: defaults plus seed
  CommandLine line;
  ParseResult result;
  std::string out;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed p;
  p.settings = Settings::Instance();
  args.insert(args.begin(), "bootcrank");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  testing::LogCapture capture;
  p.result = ParseCommandLine(static_cast<int>(args.size()), argv.data(), p.settings, p.line);
  p.out = capture.Text();
  return p;
}

TEST(CommandLineTest, UsageTextMatchesTheReferenceFile) {
  std::ifstream in(BOOTCRANK_SOURCE_DIR "/tests/runcontrol/usage.txt", std::ios::binary);
  std::stringstream expected;
  expected << in.rdbuf();
  ASSERT_FALSE(expected.str().empty());
  EXPECT_EQ(expected.str(), kUsageText);
  Parsed p = Parse({"--help"});
  EXPECT_EQ(p.result, ParseResult::kHelp);
  EXPECT_EQ(p.out, expected.str());
}

TEST(CommandLineTest, HelpStopsReadingAndIgnoresLaterOptions) {
  Parsed p = Parse({"--daemon", "--invoke", "-h", "--bogus"});
  EXPECT_EQ(p.result, ParseResult::kHelp);
}

TEST(CommandLineTest, UnknownOptionBeforeHelpIsAnError) {
  Parsed p = Parse({"--bogus", "--help"});
  EXPECT_EQ(p.result, ParseResult::kError);
  Parsed missing = Parse({"--method"});
  EXPECT_EQ(missing.result, ParseResult::kError);
}

TEST(CommandLineTest, CollectionsAppendSplitAndReplaceAsDocumented) {
  Parsed p = Parse({"--plugin-flags=a,b", "--plugin-flags=c", "--plugin=a", "--plugin", "b,c",
                    "--run-once=x", "--run-once=y", "--plugin=,d,, e,",
                    "--disable-plugins=n1,n2", "--disable-plugins=n3",
                    "--interactive-mode-requires=i1", "--interactive-mode-requires=i2,i3"});
  ASSERT_EQ(p.result, ParseResult::kRun);
  EXPECT_EQ(p.line.bootFlags, (std::set<std::string>{"c"}));
  EXPECT_EQ(p.line.pluginNames, (std::vector<std::string>{"a", "b", "c", "d", " e"}));
  EXPECT_EQ(p.line.runOnce, (std::set<std::string>{"x", "y"}));
  EXPECT_EQ(p.settings.disabledPlugins, (std::vector<std::string>{"n1", "n2", "n3"}));
  EXPECT_EQ(p.settings.interactiveRequires, (std::vector<std::string>{"i1", "i2", "i3"}));
}

TEST(CommandLineTest, ParallelAndInteractiveExcludeEachOtherLastOneWins) {
  Parsed a = Parse({"--parallel", "--interactive"});
  EXPECT_TRUE(a.settings.interactive);
  EXPECT_FALSE(a.settings.parallel);
  Parsed b = Parse({"--interactive", "--parallel"});
  EXPECT_FALSE(b.settings.interactive);
  EXPECT_TRUE(b.settings.parallel);
}

TEST(CommandLineTest, RandomizeSeedOnlyWhenAttachedAndValid) {
  int64_t creation = Settings::Instance().randomSeed;
  Parsed plain = Parse({"--randomize"});
  EXPECT_TRUE(plain.settings.randomize);
  EXPECT_EQ(plain.settings.randomSeed, creation);
  EXPECT_EQ(Parse({"--randomize=42"}).settings.randomSeed, 42);
  EXPECT_EQ(Parse({"--randomize=-7"}).settings.randomSeed, -7);
  EXPECT_EQ(Parse({"--randomize=+7"}).settings.randomSeed, 7);
  EXPECT_EQ(Parse({"--randomize=-2147483648"}).settings.randomSeed, INT32_MIN);
  for (const char* bad : {"--randomize=x", "--randomize=", "--randomize=2147483648",
                          "--randomize=12a", "--randomize= 5"}) {
    Parsed p = Parse({bad});
    EXPECT_TRUE(p.settings.randomize) << bad;
    EXPECT_EQ(p.settings.randomSeed, creation) << bad;
  }
  Parsed separate = Parse({"--randomize", "42"});
  EXPECT_EQ(separate.settings.randomSeed, creation);
}

TEST(CommandLineTest, DaemonWaitTimeoutAcceptsOnlyUnsigned32BitNumbers) {
  EXPECT_EQ(Parse({"--daemon-wait-timeout=+7"}).settings.daemonWaitTimeout, 7u);
  EXPECT_EQ(Parse({"--daemon-wait-timeout", "4294967295"}).settings.daemonWaitTimeout,
            4294967295u);
  for (const char* bad : {"abc", "", "-1", "4294967296", "7s"}) {
    EXPECT_EQ(Parse({std::string("--daemon-wait-timeout=") + bad}).settings.daemonWaitTimeout,
              40u)
        << bad;
  }
}

TEST(CommandLineTest, DaemonArgumentSetsWaitOnlyForExactlyWait) {
  EXPECT_TRUE(Parse({"--daemon=wait"}).settings.daemonWait);
  EXPECT_FALSE(Parse({"--daemon=nowait"}).settings.daemonWait);
  EXPECT_FALSE(Parse({"--daemon=WAIT"}).settings.daemonWait);
  EXPECT_TRUE(Parse({"--daemon"}).line.daemon);
}

TEST(CommandLineTest, AbbreviationsAndDumpPath) {
  Parsed p = Parse({"--verb", "--dump-dep=/tmp/x.dot", "--plugin-dir", "/p"});
  ASSERT_EQ(p.result, ParseResult::kRun);
  EXPECT_TRUE(p.settings.verbose);
  EXPECT_TRUE(p.line.dump);
  EXPECT_TRUE(p.line.dumpToFile);
  EXPECT_EQ(p.line.dumpPath, "/tmp/x.dot");
  EXPECT_EQ(p.line.pluginDirectory, "/p");
  Parsed console = Parse({"--dump-dependency-tree"});
  EXPECT_TRUE(console.line.dump);
  EXPECT_FALSE(console.line.dumpToFile);
  // "--plugin" is both an option and a prefix of others: exact match wins.
  EXPECT_EQ(Parse({"--plugin=x.json"}).line.pluginNames, (std::vector<std::string>{"x.json"}));
}

TEST(CommandLineTest, CombinationRules) {
  auto check = [](std::vector<std::string> args) {
    Parsed p = Parse(std::move(args));
    return CheckCombination(p.settings, p.line);
  };
  EXPECT_EQ(check({"--daemon", "--method=start"}), Combination::kValid);
  EXPECT_EQ(check({"--daemon", "--method=stop"}), Combination::kValid);
  EXPECT_EQ(check({"--daemon", "--method=restart"}), Combination::kInvalid);
  EXPECT_EQ(check({"--daemon"}), Combination::kInvalid);
  EXPECT_EQ(check({"--daemon", "--method=start", "--plugin=x"}), Combination::kInvalid);
  EXPECT_EQ(check({"--daemon", "--method=start", "--init"}), Combination::kInvalid);
  EXPECT_EQ(check({"--daemon", "--method=start", "--invoke"}), Combination::kInvalid);
  EXPECT_EQ(check({"--daemon", "--method=start", "--interactive"}), Combination::kInvalid);
  EXPECT_EQ(check({"--daemon", "--method=start", "--dump-dependency-tree"}),
            Combination::kValid);
  EXPECT_EQ(check({"--invoke", "--method=start"}), Combination::kInvokeIncomplete);
  EXPECT_EQ(check({"--invoke", "--plugin=a.json"}), Combination::kInvokeIncomplete);
  EXPECT_EQ(check({"--invoke", "--plugin=a.json", "--method=start", "--init"}),
            Combination::kValid);

  Parsed stop = Parse({"--daemon=nowait", "--method=stop"});
  ASSERT_EQ(CheckCombination(stop.settings, stop.line), Combination::kValid);
  EXPECT_TRUE(stop.line.stop);
  EXPECT_FALSE(stop.settings.daemonWait);
}

TEST(CommandLineTest, SplitCommaListDropsEmptyPiecesOnly) {
  std::vector<std::string> list;
  SplitCommaList(",a,,b ,", list);
  SplitCommaList("", list);
  SplitCommaList(",,,", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b "}));
  std::set<std::string> set;
  SplitCommaList("b,a,b", set);
  EXPECT_EQ(set, (std::set<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace bootcrank
