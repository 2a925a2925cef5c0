// The native executor's answer as ParseNativeTables reads it: anything but a
// well-formed answer, however close, is a malformed answer naming the byte
// where it goes wrong. Well-formed answers and the load failures they carry
// come from real objects in native_plugin_test.cc.
#include "plugins/native_tables.h"

#include <gtest/gtest.h>

#include "support/thrown.h"

namespace bootcrank {
namespace {

TEST(NativeTablesTest, AnythingElseIsAMalformedAnswer) {
  const std::string path = "/p/libx.so";
  const std::string malformed =
      "plugin `" + path + "' is invalid: reading its tables in nativeExecutor: malformed answer: ";
  for (const auto& [answer, text] : std::vector<std::pair<std::string, std::string>>{
           {"garbage", "expected answer kind at byte 0"},
           {"6:tables", "expected answer kind at byte 0"},      // no comma
           {"7:tables,", "expected answer kind at byte 0"},     // length past the end
           {"06:tables,", "expected answer kind at byte 0"},    // leading zero
           {"1234567890:x", "expected answer kind at byte 0"},  // absurd length
           {"6:TABLES,", "bad answer kind at byte 0"},
           {"6:tables,", "expected host profile flag at byte 9"},  // cut short
           {"6:tables,1:2,1:1,", "bad host profile flag at byte 9"},
           {"6:tables,1:0,2:01,", "bad version at byte 13"},
           {"6:tables,1:0,0:,", "bad version at byte 13"},
           {"6:tables,1:0,2:-1,", "bad version at byte 13"},
           {"6:tables,1:0,10:4294967296,", "bad version at byte 13"},
           {"6:tables,1:0,1:1,1:0,", "expected provides list at byte 21"},
           {"6:tables,1:0,1:1,1:0,1:2,1:a,",
            "expected provides list at byte 29"},                       // one name short
           {"6:tables,1:0,1:1,2:99,", "bad requires list at byte 17"},  // more names than bytes
           {"6:tables,1:0,1:1,1:0,1:0,x", "unexpected data at byte 25"},
           {"6:tables,1:0,1:1,1:0,1:0,6:tables,", "unexpected data at byte 25"},  // two answers
           {"6:tables,1:0,1:3,1:0,1:0,", "expected plugin version at byte 25"},
           {"6:tables,1:0,1:3,1:0,1:0,0:,3:256,1:0,1:0,", "bad run-once byte at byte 28"},
           {"6:tables,1:0,1:9,1:0,",
            "unexpected data at byte 17"},  // nothing follows a bad version
           {"9:no-object,", "expected loader error at byte 12"},
           {"9:no-object,1:x,1:y,", "unexpected data at byte 16"},
           {"9:no-symbol,10:operations,", "expected loader error at byte 26"},
       }) {
    EXPECT_EQ(malformed + text, testing::Thrown([&, a = answer] { ParseNativeTables(a, path); }))
        << answer;
  }
}

}  // namespace
}  // namespace bootcrank
