// The stream's failures. Writing, appending by reopen and committing are
// checked through the profiling log (ProfilingLog.FullLogThenADaemonSection);
// modes, temporary files and each kind of destination through FileReplacement
// (tests/host/replace_file_test.cc).
#include "runcontrol/afstream.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "gtest/gtest.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace {

using testing::Thrown;

TEST(Afstream, FailuresNameTheCauseAndAFailedWriteIsNotPutInPlace) {
  testing::TempRoot dir;
  afstream unopened;
  std::string absent = dir.Path("absent/boot.log");
  EXPECT_EQ("unable to create temporary file to write '" + absent + "': " + std::strerror(ENOENT),
            Thrown<std::runtime_error>([&] { unopened.open(absent.c_str(), std::ios_base::out); }));
  EXPECT_EQ("commit invoked on an unknown destination",
            Thrown<std::runtime_error>([&] { unopened.commit(); }));
  dir.Write("empty.log", "");
  ASSERT_EQ(0, mkfifo(dir.Path("fifo.log").c_str(), 0644));  // no writer: must not block
  ASSERT_EQ(0, mkdir(dir.Path("directory.log").c_str(), 0755));
  const std::string cannot = "failed to write to temp file: ";
  for (const auto& [name, reason] :
       std::vector<std::pair<std::string, std::string>>{{"missing.log", ""},
                                                        {"empty.log", ""},
                                                        {"fifo.log", ""},
                                                        {"directory.log", std::strerror(EISDIR)}}) {
    afstream out;
    std::string failure = Thrown<std::runtime_error>(
        [&, path = dir.Path(name)] { out.reopen(path.c_str(), std::ios_base::out); });
    EXPECT_EQ(0u, failure.rfind(cannot + reason, 0)) << name << ": " << failure;
  }
  // A file size limit makes the flush fail part-way (EFBIG once SIGXFSZ is ignored).
  dir.Write("profile.log", "complete old log\n");
  struct rlimit saved, limit;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  std::string message;
  {
    afstream out;
    out.open(dir.Path("profile.log").c_str(), std::ios_base::out);
    signal(SIGXFSZ, SIG_IGN);
    limit = {1024, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    out << std::string(64 * 1024, 'x');
    message = Thrown<std::runtime_error>([&] { out.commit(); });
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
  }
  EXPECT_EQ(cannot + std::strerror(EFBIG), message);
  EXPECT_EQ("complete old log\n", dir.Read("profile.log"));
  EXPECT_EQ((std::set<std::string>{"directory.log", "empty.log", "fifo.log", "profile.log"}),
            dir.List());
}

}  // namespace
}  // namespace bootcrank
