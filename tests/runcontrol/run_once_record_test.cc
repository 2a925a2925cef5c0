// The run-once record on disk, checked with the system's gzip tools so that
// the writer and the reader are not only tested against each other.
#include "runcontrol/run_once_record.h"

#include <stdio.h>

#include "gtest/gtest.h"
#include "support/sandbox.h"
#include "tests/runcontrol/temp_root.h"

namespace bootcrank {
namespace {

using Keys = std::set<std::string>;

TEST(RunOnceRecord, WritesOneGzipLineInSetOrderAndReadsLeniently) {
  testing::TempRoot root;
  boost::filesystem::create_directories(root.Path("bootbank"));
  for (const auto& [keys, text] : std::vector<std::pair<Keys, std::string>>{
           {{}, "bootcrank.run-once=\n"},
           {{"net1.0", "net", "a1.0", "b2"}, "bootcrank.run-once=a1.0,b2,net,net1.0,\n"},
           {{"z"}, "bootcrank.run-once=z,\n"}}) {  // shorter than the record it replaces
    WriteRunOnceRecord(keys);
    testing::RunResult zcat =
        testing::RunProcess({"/bin/zcat", root.Path("bootbank/bootcrnk.gz")}, nullptr, 30);
    EXPECT_EQ(text, zcat.out) << zcat.err;
    Keys read;
    ReadRunOnceRecord(read);
    EXPECT_EQ(keys, read);
  }
  // Reading skips what it cannot use.
  boost::filesystem::remove(root.Path("bootbank/bootcrnk.gz"));
  Keys none;
  ReadRunOnceRecord(none);  // no record
  EXPECT_EQ(Keys{}, none);
  struct Case {
    std::string text;
    bool gzip;
    Keys keys;
  };
  for (const Case& c : std::vector<Case>{
           {"bootcrank.run-once= a1.0 ,,\tb2\r\n,  ,\vc3\f,last", true, {"a1.0", "b2", "c3", "last"}},
           {"bootcrank.run-twice=a,b,\n", true, {}},
           {"bootcrank.run", true, {}},
           {"bootcrank.run-once=a,b,\n", false, {}}}) {  // not gzip data
    root.Write("bootbank/bootcrnk", c.text);
    std::string record = root.Path("bootbank/bootcrnk");
    ASSERT_EQ(0, c.gzip ? testing::Shell("gzip -n -f '" + record + "'")
                        : rename(record.c_str(), (record + ".gz").c_str()));
    Keys keys;
    ReadRunOnceRecord(keys);
    EXPECT_EQ(c.keys, keys) << c.text;
  }
}

}  // namespace
}  // namespace bootcrank
