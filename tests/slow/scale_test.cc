// The installed program over plugin sets far larger than any host carries:
// a chain of 100,000 plugins, each waiting for the one before through a
// barrier, and 100,000 independent plugins. Every plugin must run once and
// the run must end. Sanitizer builds run a tenth of the size.
#include <fstream>

#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BOOTCRANK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BOOTCRANK_SANITIZED 1
#endif
#endif

namespace bootcrank {
namespace testing {
namespace {

#ifdef BOOTCRANK_SANITIZED
constexpr int kPlugins = 10000;
#else
constexpr int kPlugins = 100000;
#endif

// Plugin i provides barrier b<i+1> and, when `chained`, requires b<i>.
void RunAndCheck(bool chained, const std::vector<std::string>& args) {
  Sandbox box;
  for (int i = 0; i < kPlugins; ++i) {
    std::ofstream out(box.PluginDir() + "/p" + std::to_string(i) + ".json");
    out << Descriptor(chained && i > 0 ? "\"b" + std::to_string(i) + "\"" : "",
                      "\"b" + std::to_string(i + 1) + "\"", "");
    ASSERT_TRUE(out.good()) << i;
  }
  RunResult run = box.Run(args, 850);
  ASSERT_EQ(0, run.status) << run.err << run.out.substr(0, 4000);
  EXPECT_EQ(std::make_pair(kPlugins, 0), PluginLines(box.ReadFile("/var/log/sysboot.log")));
  EXPECT_EQ(std::string::npos, run.out.find(": error: ")) << run.out.substr(0, 4000);
  EXPECT_EQ("", Leftovers(box));
}

TEST(Scale, ChainOfAHundredThousandPluginsRunsToTheEnd) { RunAndCheck(true, {"--parallel"}); }

TEST(Scale, HundredThousandIndependentPluginsAllRun) {
  RunAndCheck(false, {"--parallel", "--randomize=7"});
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
