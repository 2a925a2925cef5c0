// The native executor's answer as ParseNativeTables reads it: well-formed
// answers give their tables or the load failure they carry; anything else,
// however close, is a malformed answer naming the byte where it goes wrong.
// What the executor writes for real objects is checked in
// native_plugin_test.cc.
#include "plugins/native_tables.h"

#include <gtest/gtest.h>

#include "support/thrown.h"

namespace bootcrank {
namespace {

using testing::Thrown;
using namespace std::string_literals;

const char kPath[] = "/p/libx.so";

std::string Parse(const std::string& answer) {
  return Thrown([&] { ParseNativeTables(answer, kPath); });
}

TEST(NativeTablesTest, WellFormedAnswersGiveTheirTables) {
  NativeTables v1 = ParseNativeTables("6:tables,1:0,1:1,1:0,1:2,1:a,0:,", kPath);
  EXPECT_FALSE(v1.hasHostProfileEntry);
  EXPECT_EQ(1u, v1.version);
  EXPECT_TRUE(v1.requiresBarriers.empty());
  EXPECT_EQ((std::vector<std::string>{"a", ""}), v1.providesBarriers);

  // Names are taken byte for byte, separators and NULs included.
  NativeTables v3 = ParseNativeTables("6:tables,1:1,1:3,1:1,4:,:\0\n,1:0,3:1.0,3:255,1:0,1:1,1:x,"s, kPath);
  EXPECT_TRUE(v3.hasHostProfileEntry);
  EXPECT_EQ(std::vector<std::string>{",:\0\n"s}, v3.requiresBarriers);
  EXPECT_EQ("1.0", v3.pluginVersion);
  EXPECT_TRUE(v3.runOnce);
  EXPECT_TRUE(v3.requiredFlags.empty());
  EXPECT_EQ(std::vector<std::string>{"x"}, v3.disablingFlags);
}

TEST(NativeTablesTest, AnswersThatCarryALoadFailure) {
  const std::string invalid = std::string("plugin `") + kPath + "' is invalid: ";
  for (const auto& [answer, text] : std::vector<std::pair<std::string, std::string>>{
           {"9:no-object,14:cannot open it,", invalid + "cannot open it"},
           {"9:no-symbol,8:metadata,9:undefined,",
            std::string("Failed loading symbol: metadata Located at: ") + kPath + " Reason: undefined"},
           {"6:tables,1:1,1:0,", invalid + "Unsupported API version"},
           {"6:tables,1:0,1:5,", invalid + "Unsupported API version"},
           {"6:tables,1:0,10:4294967295,", invalid + "Unsupported API version"},
       }) {
    EXPECT_EQ(text, Parse(answer)) << answer;
  }
}

TEST(NativeTablesTest, AnythingElseIsAMalformedAnswer) {
  const std::string malformed =
      std::string("plugin `") + kPath + "' is invalid: reading its tables in nativeExecutor: malformed answer: ";
  for (const auto& [answer, text] : std::vector<std::pair<std::string, std::string>>{
           {"garbage", "expected answer kind at byte 0"},
           {"6:tables", "expected answer kind at byte 0"},           // no comma
           {"7:tables,", "expected answer kind at byte 0"},          // length past the end
           {"06:tables,", "expected answer kind at byte 0"},         // leading zero
           {"1234567890:x", "expected answer kind at byte 0"},       // absurd length
           {"6:TABLES,", "bad answer kind at byte 0"},
           {"6:tables,", "expected host profile flag at byte 9"},    // cut short
           {"6:tables,1:2,1:1,", "bad host profile flag at byte 9"},
           {"6:tables,1:0,2:01,", "bad version at byte 13"},
           {"6:tables,1:0,0:,", "bad version at byte 13"},
           {"6:tables,1:0,2:-1,", "bad version at byte 13"},
           {"6:tables,1:0,10:4294967296,", "bad version at byte 13"},
           {"6:tables,1:0,1:1,1:0,", "expected provides list at byte 21"},
           {"6:tables,1:0,1:1,1:0,1:2,1:a,", "expected provides list at byte 29"},  // one name short
           {"6:tables,1:0,1:1,2:99,", "bad requires list at byte 17"},   // more names than bytes
           {"6:tables,1:0,1:1,1:0,1:0,x", "unexpected data at byte 25"},
           {"6:tables,1:0,1:1,1:0,1:0,6:tables,", "unexpected data at byte 25"},  // two answers
           {"6:tables,1:0,1:3,1:0,1:0,", "expected plugin version at byte 25"},
           {"6:tables,1:0,1:3,1:0,1:0,0:,3:256,1:0,1:0,", "bad run-once byte at byte 28"},
           {"6:tables,1:0,1:9,1:0,", "unexpected data at byte 17"},  // nothing follows a bad version
           {"9:no-object,", "expected loader error at byte 12"},
           {"9:no-object,1:x,1:y,", "unexpected data at byte 16"},
           {"9:no-symbol,10:operations,", "expected loader error at byte 26"},
       }) {
    EXPECT_EQ(malformed + text, Parse(answer)) << answer;
  }
}

}  // namespace
}  // namespace bootcrank
