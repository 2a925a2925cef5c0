// The debug injection file: its lines, fields and barrier lists.
#include "plugins/debug_config.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "support/log_capture.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace {

using Names = std::vector<std::string>;

std::vector<DebugEntry> Read(const std::string& text) {
  std::istringstream in(text);
  return ReadDebugEntries(in);
}

TEST(DebugConfigTest, FourFieldsAfterDroppingEmptyOnesElseMalformed) {
  testing::LogCapture capture;
  // Lines are trimmed; blanks around colons are kept.
  std::vector<DebugEntry> entries = Read(
      "   \n\na:b:c:d:e\n::n::r::p::c::\nweb:r:p:curl http://host/x\n"
      "short:r:p\n\t\n \t s : r : p : sleep 0 \t");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ((Names{entries[0].name, entries[0].command}), (Names{"n", "c"}));
  EXPECT_EQ((Names{entries[0].requiredBarriers[0], entries[0].providedBarriers[0]}),
            (Names{"r", "p"}));
  EXPECT_EQ((Names{entries[1].name, entries[1].command}), (Names{"s ", " sleep 0"}));
  EXPECT_EQ(entries[1].requiredBarriers, Names{" r "});
  EXPECT_EQ(capture.Messages("info"),
            (Names{"ignoring malformed debug entry at line 3: a:b:c:d:e",
                   "ignoring malformed debug entry at line 5: web:r:p:curl http://host/x",
                   "ignoring malformed debug entry at line 6: short:r:p"}));
}

// Discovery consults the file once per file name: the cache reads it once and
// replays its malformed-line messages, so the log is as if it read it each time.
TEST(DebugConfigTest, TheCacheReadsOnceAndLogsTheMalformedLinesAtEachRead) {
  testing::TempRoot root;
  root.Write("etc/quarro/bootcrank/debug.conf", "bad\nn:r:p:c\nworse:x\n");
  testing::LogCapture capture;
  DebugEntryCache cache;
  EXPECT_EQ(cache.Read().size(), 1u);
  root.Write("etc/quarro/bootcrank/debug.conf", "");
  EXPECT_EQ(cache.Read().at(0).name, "n");
  const Names once{"ignoring malformed debug entry at line 1: bad",
                   "ignoring malformed debug entry at line 3: worse:x"};
  Names twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(capture.Messages("info"), twice);
}

TEST(DebugConfigTest, BarrierListsSplitWithQuotesAndEscapes) {
  // The second case opens its quote with one kind and closes it with the other.
  const std::pair<const char*, Names> cases[] = {
      {"a,,b", {"a", "", "b"}}, {"'x,y\",z", {"x,y", "z"}}, {"a\"b\"c", {"abc"}},
      {"a\\,b", {"a,b"}},       {"a\\nb", {"a\nb"}},        {"\\\"q\\'\\\\", {"\"q'\\"}}};
  for (const auto& [field, items] : cases) {
    std::vector<DebugEntry> entries = Read(std::string("n:") + field + ":" + field + ":c\n");
    EXPECT_EQ(entries.at(0).requiredBarriers, items) << field;
    EXPECT_EQ(entries.at(0).providedBarriers, items) << field;
  }
  for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
           {"ok:a:b:true\nbad:a\\qb:c:true\n", "unknown escape sequence"},
           {"ok:a:b:true\nbad:a:b\\:true\n", "cannot end with escape"}}) {
    EXPECT_EQ(testing::Thrown<std::runtime_error>([&, line = text] { Read(line); }), error) << text;
  }
}

}  // namespace
}  // namespace bootcrank
