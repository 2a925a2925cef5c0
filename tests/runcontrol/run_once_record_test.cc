// The run-once record on disk, checked with the system's gzip tools so that
// the writer and the reader are not only tested against each other.
#include "runcontrol/run_once_record.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <set>
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "tests/runcontrol/temp_root.h"

namespace bootcrank {
namespace {

using Keys = std::set<std::string>;
using testing::LogCapture;
using testing::TempRoot;

class RunOnceRecordTest : public ::testing::Test {
 protected:
  RunOnceRecordTest() : root_(true) { root_.MakeDirectory("bootbank"); }

  std::string RecordPath() const { return root_.Path("bootbank/bootcrnk.gz"); }

  // The decompressed record, as the system's zcat reads it.
  std::string Zcat() const {
    testing::RunResult result = testing::RunProcess({"/bin/zcat", RecordPath()}, nullptr, 30);
    EXPECT_EQ(0, result.status) << result.err;
    return result.out;
  }

  // Stores `text` as the record, compressed by the system's gzip.
  void StoreGzipped(const std::string& text) {
    root_.Write("bootbank/bootcrnk", text);
    ASSERT_EQ(0, testing::Shell("gzip -n -f '" + root_.Path("bootbank/bootcrnk") + "'"));
  }

  Keys ReadRecord(Keys keys = {}) {
    ReadRunOnceRecord(keys);
    return keys;
  }

  TempRoot root_;
};

TEST_F(RunOnceRecordTest, WriteProducesOneLineInSetOrder) {
  WriteRunOnceRecord({});
  EXPECT_EQ("bootcrank.run-once=\n", Zcat());

  Keys keys;
  keys.insert("b");
  keys.insert("a");
  WriteRunOnceRecord(keys);
  EXPECT_EQ("bootcrank.run-once=a,b,\n", Zcat());

  WriteRunOnceRecord({"net1.0", "net", "a1.0", "b2"});
  EXPECT_EQ("bootcrank.run-once=a1.0,b2,net,net1.0,\n", Zcat());
}

TEST_F(RunOnceRecordTest, WrittenGzipHeaderCarriesNoNameAndNoTime) {
  WriteRunOnceRecord({"a"});
  std::string raw = root_.Read("bootbank/bootcrnk.gz");
  ASSERT_GE(raw.size(), 10u);
  EXPECT_EQ('\x1f', raw[0]);
  EXPECT_EQ('\x8b', raw[1]);
  EXPECT_EQ(8, raw[2]) << "deflate";
  EXPECT_EQ(0, raw[3]) << "no file name, comment or extra field";
  EXPECT_EQ(std::string(4, '\0'), raw.substr(4, 4)) << "modification time 0";
}

TEST_F(RunOnceRecordTest, WriteTruncatesALongerRecord) {
  WriteRunOnceRecord({"alpha1", "beta2", "gamma3", "delta4"});
  WriteRunOnceRecord({"z"});
  EXPECT_EQ("bootcrank.run-once=z,\n", Zcat());
}

TEST_F(RunOnceRecordTest, WrittenRecordReadsBack) {
  Keys keys = {"a1.0", "b2", "x+y_z-1.2"};
  WriteRunOnceRecord(keys);
  EXPECT_EQ(keys, ReadRecord());
  // Reading adds to what the set already holds.
  EXPECT_EQ((Keys{"a1.0", "b2", "from-option", "x+y_z-1.2"}), ReadRecord({"from-option"}));
}

TEST_F(RunOnceRecordTest, ReadTrimsBlanksAndSkipsEmptyPieces) {
  StoreGzipped("bootcrank.run-once= a1.0 ,,\tb2\r\n,  ,\vc3\f,last");
  EXPECT_EQ((Keys{"a1.0", "b2", "c3", "last"}), ReadRecord());
}

TEST_F(RunOnceRecordTest, ReadIgnoresRecordsItCannotUse) {
  LogCapture log;
  // Missing record.
  EXPECT_EQ(Keys{"kept"}, ReadRecord({"kept"}));
  // Another prefix, and a record shorter than the prefix.
  StoreGzipped("bootcrank.run-twice=a,b,\n");
  EXPECT_EQ(Keys{"kept"}, ReadRecord({"kept"}));
  StoreGzipped("bootcrank.run");
  EXPECT_EQ(Keys{}, ReadRecord());
  // Plain text with the right prefix is not gzip data.
  root_.Write("bootbank/bootcrnk.gz", "bootcrank.run-once=a,b,\n");
  EXPECT_EQ(Keys{"kept"}, ReadRecord({"kept"}));
  // A truncated gzip stream.
  WriteRunOnceRecord({"a", "b"});
  std::string raw = root_.Read("bootbank/bootcrnk.gz");
  root_.Write("bootbank/bootcrnk.gz", raw.substr(0, 12));
  EXPECT_EQ(Keys{}, ReadRecord());
  // A directory in the record's place.
  unlink(RecordPath().c_str());
  root_.MakeDirectory("bootbank/bootcrnk.gz");
  EXPECT_EQ(Keys{}, ReadRecord());
  EXPECT_EQ("", log.Text()) << "reading never reports";
}

TEST(RunOnceRecordStream, ParsesDecompressedText) {
  auto parse = [](const std::string& text) {
    std::istringstream in(text);
    Keys keys;
    ReadRunOnceRecord(in, keys);
    return keys;
  };
  EXPECT_EQ((Keys{"a", "b"}), parse("bootcrank.run-once=a,b"));
  EXPECT_EQ(Keys{}, parse("bootcrank.run-once="));
  EXPECT_EQ(Keys{}, parse("bootcrank.run-once"));
  EXPECT_EQ(Keys{}, parse(" bootcrank.run-once=a,"));
  EXPECT_EQ((Keys{"a b"}), parse("bootcrank.run-once= a b ,"));
  EXPECT_EQ((Keys{"a", "b"}), parse("bootcrank.run-once=a,b,a,"));
}

TEST_F(RunOnceRecordTest, UnopenableRecordIsAWarning) {
  root_.MakeDirectory("bootbank/bootcrnk.gz");  // cannot be opened for writing
  LogCapture log;
  EXPECT_NO_THROW(WriteRunOnceRecord({"a"}));
  EXPECT_EQ(std::vector<std::string>{"unable to write run-once record (" + RecordPath() +
                                     "): Is a directory."},
            log.Messages("warning"));
}

TEST_F(RunOnceRecordTest, FailedWriteIsAWarning) {
  ASSERT_EQ(0, symlink("/dev/full", RecordPath().c_str()));
  LogCapture log;
  EXPECT_NO_THROW(WriteRunOnceRecord({"a", "b"}));
  EXPECT_EQ(std::vector<std::string>{"unable to write run-once record (" + RecordPath() +
                                     "): " + strerror(ENOSPC) + "."},
            log.Messages("warning"));
}

}  // namespace
}  // namespace bootcrank
