// The JSON scanner against nlohmann's parser: same events, same refusals.
#include "analyze/json_scanner.h"

#include <gtest/gtest.h>

namespace bootcrank {
namespace analyze {
namespace {

using json = nlohmann::json;

class Recorder : public nlohmann::json_sax<json> {
 public:
  std::string log;
  bool null() override { return Add("null"); }
  bool boolean(bool b) override { return Add(b ? "true" : "false"); }
  bool number_integer(number_integer_t n) override { return Add("int " + std::to_string(n)); }
  bool number_unsigned(number_unsigned_t n) override { return Add("uint " + std::to_string(n)); }
  bool number_float(number_float_t n, const string_t& s) override {
    char text[64];
    snprintf(text, sizeof text, "%.17g", n);
    return Add("float " + std::string(text) + " " + s);
  }
  bool string(string_t& s) override { return Add("string " + s); }
  bool binary(binary_t&) override { return Add("binary"); }
  bool start_object(std::size_t) override { return Add("{"); }
  bool key(string_t& k) override { return Add("key " + k); }
  bool end_object() override { return Add("}"); }
  bool start_array(std::size_t) override { return Add("["); }
  bool end_array() override { return Add("]"); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return !Add("error");
  }
  bool Add(const std::string& line) {
    log += line + "\n";
    return true;
  }
};

// The events, one a line, then "error" on a refusal.
std::string Scanned(const std::string& text) {
  Recorder r;
  try {
    ScanJson(text.data(), text.data() + text.size(), &r);
  } catch (const JsonSyntaxError&) {
    r.log += "error\n";
  }
  return r.log;
}

std::string Reference(const std::string& text) {
  Recorder r;
  json::sax_parse(text.begin(), text.end(), &r);
  return r.log;
}

bool Ends(const std::string& log, const std::string& tail) {
  return log.size() >= tail.size() && log.compare(log.size() - tail.size(), tail.size(), tail) == 0;
}

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
      "42",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Scanned(text), Reference(text));
  }
}

TEST(JsonScannerTest, RefusesWhatNlohmannRefuses) {
  const std::string texts[] = {
      "",          "{",           "[1,]",         "{\"a\":1,}",     "{\"a\" 1}",        "{a:1}",
      "[01]",      "[1.]",        "[.5]",         "[-]",            "[1e]",             "[+1]",
      "[tru]",     "[nul]",       "[1] [2]",      "\"open",         "\"tab\there\"",    "\"\\x\"",
      "\"\\u12\"", "\"\\ud800\"", "\"\\udc00\"",  "\"\\ud800\\u0041\"", "\"\xff\"",      "\"\xc0\xaf\"",
      "\"\xed\xa0\x80\"", "\"\xf4\x90\x80\x80\"", "// comment\n1", "[1 2]",
      "[1e400]",  "[-2e65000000050100]",  // out of a double's range; found by fuzzing
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(Ends(Reference(text), "error\n")) << "nlohmann accepts it";
    EXPECT_TRUE(Ends(Scanned(text), "error\n")) << "the scanner accepts it";
  }
  // Found by fuzzing: nlohmann takes a NUL byte for the end of the input; JSON has none.
  EXPECT_TRUE(Ends(Scanned(std::string("{\"schema\": 1}\0\0\r{", 18)), "error\n"));
}

TEST(JsonScannerTest, ErrorsGiveTheBytePositionAndDeepNestingIsRefusedNotRecursed) {
  const std::string text = "{\"a\": [1, 2,, 3]}";
  Recorder r;
  try {
    ScanJson(text.data(), text.data() + text.size(), &r);
    FAIL() << "accepted";
  } catch (const JsonSyntaxError& e) {
    EXPECT_EQ(e.Position(), 12u);
    EXPECT_STREQ(e.what(), "invalid value");
  }
  std::string deep(100000, '[');
  EXPECT_THROW(ScanJson(deep.data(), deep.data() + deep.size(), &r), JsonSyntaxError);
  std::string ok = std::string(500, '[') + std::string(500, ']');
  EXPECT_TRUE(ScanJson(ok.data(), ok.data() + ok.size(), &r));
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
