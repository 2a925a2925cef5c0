// The installed program over plugin sets far larger than any host carries:
// a chain of 100,000 plugins, each waiting for the one before through a
// barrier, and 100,000 plugins with no dependency at all. Every plugin must
// run once and the run must end. Sanitizer builds run a tenth of the size.
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "tests/e2e/hygiene.h"

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

std::string Name(int i) {
  std::string digits = std::to_string(i);
  return "p" + std::string(6 - digits.size(), '0') + digits;
}

// Writes kPlugins descriptors with empty command lists; plugin i requires
// barrier "b<i>" (when `chained` and i > 0) and provides "b<i+1>".
void WritePlugins(const Sandbox& box, bool chained) {
  for (int i = 0; i < kPlugins; ++i) {
    std::ofstream out(box.PluginDir() + "/" + Name(i) + ".json");
    out << "{\"metadata\": {\"version\": 1, \"requires\": [";
    if (chained && i > 0) out << "\"b" << i << "\"";
    out << "], \"provides\": [\"b" << i + 1 << "\"]}, \"operations\": {\"start\": []}}\n";
    ASSERT_TRUE(out.good()) << Name(i);
  }
}

// The profiling log's plugin lines: how many there are, and how many carry
// the zero time of a plugin that never ran.
struct PluginLines {
  int total = 0;
  int neverRan = 0;
};

PluginLines CountPluginLines(const std::string& log) {
  PluginLines lines;
  size_t at = 0;
  while ((at = log.find("] sysboot: ", at)) != std::string::npos) {
    size_t begin = log.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    if (log.compare(begin, 28, "[1970-01-01 00:00:00.000000 ") == 0) ++lines.neverRan;
    ++lines.total;
    at += 1;
  }
  return lines;
}

void RunAndCheck(const Sandbox& box, const std::vector<std::string>& args) {
  RunResult run = box.Run(args, 850);
  ASSERT_EQ(0, run.status) << run.err << run.out.substr(0, 4000);
  PluginLines lines = CountPluginLines(box.ReadFile("/var/log/sysboot.log"));
  EXPECT_EQ(kPlugins, lines.total);
  EXPECT_EQ(0, lines.neverRan);
  EXPECT_EQ(std::string::npos, run.out.find(": error: ")) << run.out.substr(0, 4000);
  EXPECT_EQ("", Joined(LeftoverProcesses(box)));
  EXPECT_EQ("", Joined(TemporaryLogFiles(box)));
}

TEST(Scale, ChainOfAHundredThousandPluginsRunsToTheEnd) {
  Sandbox box;
  WritePlugins(box, true);
  if (HasFatalFailure()) return;
  RunAndCheck(box, {"--parallel"});
}

TEST(Scale, HundredThousandIndependentPluginsAllRun) {
  Sandbox box;
  WritePlugins(box, false);
  if (HasFatalFailure()) return;
  RunAndCheck(box, {"--parallel", "--randomize=7"});
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
