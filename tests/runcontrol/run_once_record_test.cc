// The run-once record on disk, checked with the system's gzip tools so that
// the writer and the reader are not only tested against each other.
#include "runcontrol/run_once_record.h"

#include <stdio.h>
#include <sys/stat.h>

#include <fstream>

#include "gtest/gtest.h"
#include "support/sandbox.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace {

using Keys = std::set<std::string>;

TEST(RunOnceRecord, WritesOneGzipLineInSetOrderAndReadsLeniently) {
  testing::TempRoot root;
  boost::filesystem::create_directories(root.Path("bootbank"));
  for (const auto& [keys, text] : std::vector<std::pair<Keys, std::string>>{
           {{"net1.0", "net", "a1.0", "b2"}, "bootcrank.run-once=a1.0,b2,net,net1.0,\n"},
           {{}, "bootcrank.run-once=\n"}}) {  // shorter than the record it replaces
    WriteRunOnceRecord(keys);
    testing::RunResult zcat =
        testing::RunProcess({"/bin/zcat", root.Path("bootbank/bootcrnk.gz")}, nullptr, 30);
    EXPECT_EQ(text, zcat.out) << zcat.err;
    Keys read;
    ReadRunOnceRecord(read);
    EXPECT_EQ(keys, read);
  }
  // Reading skips what it cannot use.
  enum Form { kPlain, kGzip, kBadCheckSum };
  for (const auto& [text, form, keys] : std::vector<std::tuple<std::string, Form, Keys>>{
           {"bootcrank.run-once= a1.0 ,,\tb2\r\n,  ,\vc3\f,last",
            kGzip,
            {"a1.0", "b2", "c3", "last"}},
           {"bootcrank.run-twice=a,b,\n", kGzip, {}},
           {"bootcrank.run", kGzip, {}},
           {"bootcrank.run-once=a,b,\n", kPlain, {}},
           {"", kPlain, {}},
           {"bootcrank.run-once=a,b,\n", kBadCheckSum, {}}}) {
    std::string record = root.Path("bootbank/bootcrnk");
    root.Write("bootbank/bootcrnk", text);
    ASSERT_EQ(0, form != kPlain ? testing::Shell("gzip -n -f '" + record + "'")
                                : rename(record.c_str(), (record + ".gz").c_str()));
    if (form == kBadCheckSum) {  // the CRC-32 opens the 8-byte trailer
      std::fstream gz(record + ".gz", std::ios::in | std::ios::out | std::ios::binary);
      gz.seekg(-8, std::ios::end);
      char byte = static_cast<char>(gz.get() ^ 0xff);
      gz.seekp(-8, std::ios::end).put(byte);
    }
    Keys read;
    ReadRunOnceRecord(read);
    EXPECT_EQ(keys, read) << text << " form " << form;
  }
}

TEST(RunOnceRecord, AFifoInTheRecordsPlaceNeitherBlocksReadingNorWriting) {
  testing::TempRoot root;
  boost::filesystem::create_directories(root.Path("bootbank"));
  ASSERT_EQ(0, mkfifo(root.Path("bootbank/bootcrnk.gz").c_str(), 0644));
  Keys read;
  ReadRunOnceRecord(read);
  EXPECT_EQ(Keys{}, read);
  WriteRunOnceRecord({"net1.0"});  // fails with ENXIO and logs; the FIFO stays
  EXPECT_TRUE(boost::filesystem::is_other(root.Path("bootbank/bootcrnk.gz")));
}

}  // namespace
}  // namespace bootcrank
