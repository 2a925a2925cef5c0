// The JSON scanner against nlohmann's parser: same events, same refusals.
#include "analyze/json_scanner.h"

#include <gtest/gtest.h>

#include "sax_log.h"

namespace bootcrank {
namespace analyze {
namespace {

using namespace std::string_literals;

TEST(JsonScannerTest, SameEventsAsNlohmannForValidJson) {
  const char* const texts[] = {
      "{}",
      "[]",
      " \t\r\n{ \"a\" : [ 1 , -2 , 3.5 , -0.0 , 1e3 , 2E-2 , 0 ] } \n",
      R"({"schema":1,"plugins":[{"name":"n","after":["x","y"],"ready":1765000000100000,"worker":null}]})",
      R"(["esc \" \\ \/ \b \f \n \r \t", "\u0041\u00e9\u20ac\ud83d\ude00", "plain é € 😀"])",
      "[18446744073709551615, 18446744073709551616, -9223372036854775808, -9223372036854775809]",
      "[true, false, null, [[[]]], {\"\": {}}]",
      "\"top-level string\"",
      "42"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ScannerEvents(text), NlohmannEvents(text));
  }
}

// The last two are out of a double's range (found by fuzzing).
TEST(JsonScannerTest, RefusesWhatNlohmannRefuses) {
  std::vector<std::string> texts = {""s,      "{"s,    "[1,]"s,  "{\"a\":1,}"s, "{\"a\" 1}"s,
                                    "{a:1}"s, "[01]"s, "[1.]"s,  "[.5]"s,       "[-]"s,
                                    "[1e]"s,  "[+1]"s, "[tru]"s, "[nul]"s,      "[1] [2]"s};
  texts.insert(texts.end(), {"\"open"s, "\"tab\there\""s, "\"\\x\""s, "\"\\u12\""s, "\"\\ud800\""s,
                             "\"\\udc00\""s, "\"\\ud800\\u0041\""s, "\"\xff\""s, "\"\xc0\xaf\""s,
                             "\"\xed\xa0\x80\""s, "\"\xf4\x90\x80\x80\""s, "// comment\n1"s,
                             "[1 2]"s, "[1e400]"s, "[-2e65000000050100]"s});
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(Refused(NlohmannEvents(text))) << "nlohmann accepts it";
    EXPECT_TRUE(Refused(ScannerEvents(text))) << "the scanner accepts it";
  }
  // Found by fuzzing: nlohmann takes a NUL byte for the end of the input; JSON has none.
  EXPECT_TRUE(Refused(ScannerEvents("{\"schema\": 1}\0\0\r{"s)));
}

TEST(JsonScannerTest, ErrorsGiveTheBytePositionAndDeepNestingIsRefusedNotRecursed) {
  const std::string text = "{\"a\": [1, 2,, 3]}", deep(100000, '['),
                    ok = std::string(500, '[') + std::string(500, ']');
  SaxLog sax;
  try {
    ScanJson(text.data(), text.data() + text.size(), &sax);
    FAIL() << "accepted";
  } catch (const JsonSyntaxError& e) {
    EXPECT_EQ(e.Position(), 12u);
    EXPECT_STREQ(e.what(), "invalid value");
  }
  EXPECT_THROW(ScanJson(deep.data(), deep.data() + deep.size(), &sax), JsonSyntaxError);
  EXPECT_TRUE(ScanJson(ok.data(), ok.data() + ok.size(), &sax));
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
