#include "runcontrol/afstream.h"

#include <sys/stat.h>

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "gtest/gtest.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace {

using testing::Thrown;

TEST(Afstream, CommitAndReopenKeepModeAndLeaveNoTempFile) {
  testing::TempRoot dir;
  dir.Write("kept.log", "older and longer content\n", 0644);
  dir.Write("discarded.log", "old\n");
  for (std::string name : {"new.log", "kept.log", "discarded.log"}) {
    afstream out;
    out.open(dir.Path(name).c_str(), std::ios_base::out);
    out << "new\n";
    if (name != "discarded.log") out.commit();
  }
  afstream reopened;
  reopened.reopen(dir.Path("kept.log").c_str(), std::ios_base::out);
  reopened << "x";
  reopened.commit();
  EXPECT_EQ((std::vector<std::string>{"new\n", "new\nx", "old\n"}),
            (std::vector<std::string>{dir.Read("new.log"), dir.Read("kept.log"), dir.Read("discarded.log")}));
  auto mode = [&](const char* name) { return boost::filesystem::status(dir.Path(name)).permissions(); };
  EXPECT_EQ((std::pair{0600, 0644}), (std::pair<int, int>{mode("new.log"), mode("kept.log")}));
  EXPECT_EQ((std::set<std::string>{"discarded.log", "kept.log", "new.log"}), dir.List());
}

TEST(Afstream, FailuresNameTheCauseAndAFailedWriteIsNotPutInPlace) {
  testing::TempRoot dir;
  afstream unopened;
  std::string absent = dir.Path("absent/boot.log");
  EXPECT_EQ("unable to create temporary file to write '" + absent + "': " + std::strerror(ENOENT),
            Thrown<std::runtime_error>([&] { unopened.open(absent.c_str(), std::ios_base::out); }));
  EXPECT_EQ("commit invoked on an unknown destination", Thrown<std::runtime_error>([&] { unopened.commit(); }));
  dir.Write("empty.log", "");
  ASSERT_EQ(0, mkfifo(dir.Path("fifo.log").c_str(), 0644));  // no writer: must not block
  ASSERT_EQ(0, mkdir(dir.Path("directory.log").c_str(), 0755));
  struct Case {
    const char* name;
    const char* reason;  // null: whatever the system says
  };
  for (const Case& c : {Case{"missing.log", nullptr}, Case{"empty.log", nullptr}, Case{"fifo.log", nullptr},
                        Case{"directory.log", std::strerror(EISDIR)}}) {
    afstream out;
    std::string failure = Thrown<std::runtime_error>([&] { out.reopen(dir.Path(c.name).c_str(), std::ios_base::out); });
    EXPECT_EQ(0u, failure.find("failed to write to temp file: ")) << c.name << ": " << failure;
    if (c.reason != nullptr) {
      EXPECT_EQ(std::string("failed to write to temp file: ") + c.reason, failure);
    }
  }

  // A file size limit makes the flush fail part-way (EFBIG once SIGXFSZ is ignored).
  dir.Write("profile.log", "complete old log\n");
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  std::string message;
  {
    afstream out;
    out.open(dir.Path("profile.log").c_str(), std::ios_base::out);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1024, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    out << std::string(64 * 1024, 'x');
    message = Thrown<std::runtime_error>([&] { out.commit(); });
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
  }
  EXPECT_EQ(std::string("failed to write to temp file: ") + std::strerror(EFBIG), message);
  EXPECT_EQ("complete old log\n", dir.Read("profile.log"));
  EXPECT_EQ((std::set<std::string>{"directory.log", "empty.log", "fifo.log", "profile.log"}), dir.List());
}

}  // namespace
}  // namespace bootcrank
