// Log records on standard output, whole under concurrency, and the kernel
// log's fall-back to the system log. The records' form and texts, and the
// lines in <root>/dev/kmsg, are checked end to end through a run's output.
#include "host/log.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <thread>

#include "host/logging.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace {

TEST(Log, ConcurrentRecordsNeverInterleave) {
  InitLogging("bootcrank");
  testing::LogCapture capture;
  std::vector<std::thread> threads;
  for (char c : {'a', 'b', 'c', 'd'}) {
    threads.emplace_back([c] {
      for (int i = 0; i < 200; ++i) Log_Level(kLogInfo, "%s\n", std::string(100, c).c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::string> messages = capture.Messages("info");
  ASSERT_EQ(messages.size(), 800u);
  for (const std::string& m : messages) EXPECT_EQ(m, std::string(100, m[0]));
}

// Writes to `file` the records, one a line, that KernelLog sends to the
// system log in a child whose private mount namespace has a datagram socket
// at /dev/log. False where mounting is not permitted.
bool SyslogOfKernelLog(const std::string& file) {
  pid_t child = fork();
  if (child == 0) {
    sockaddr_un address{AF_UNIX, "/dev/log"};
    int sink = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev", "tmpfs", 0, "size=64k") != 0) {
      _exit(2);
    }
    if (bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(3);
    KernelLog("to syslog %s", "instead");
    std::ofstream out(file, std::ios::binary);
    char record[4096];
    for (ssize_t n; (n = recv(sink, record, sizeof record, MSG_DONTWAIT)) > 0;) {
      out.write(record, n).put('\n');
    }
    _exit(out.flush() ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 3) << status;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Without <root>/dev/kmsg (never created) or with a FIFO nobody reads in its
// place (never waited for), two error records go to the system log instead:
// the failure, then the message.
TEST(Log, KernelLogWithoutItsDeviceGoesToSyslog) {
  InitLogging("bootcrank");
  testing::TempRoot root;
  boost::filesystem::create_directories(root.Path("dev"));
  std::regex head("<" + std::to_string(LOG_DAEMON | LOG_ERR) +
                  R"(>[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d bootcrank\[\d+\]: )");
  for (int error : {ENOENT, ENXIO}) {
    if (error == ENXIO) {
      ASSERT_EQ(0, mkfifo(root.Path("dev/kmsg").c_str(), 0644));
    }
    if (!SyslogOfKernelLog(root.Path("syslog"))) GTEST_SKIP() << "mounting needs CAP_SYS_ADMIN";
    EXPECT_EQ("Exception occurred while logging msg: unable to open " + root.Path("dev/kmsg") +
                  ": " + strerror(error) + "\nto syslog instead\n",
              std::regex_replace(root.Read("syslog"), head, ""));
    EXPECT_EQ(error == ENXIO, boost::filesystem::exists(root.Path("dev/kmsg")));
  }
}

}  // namespace
}  // namespace bootcrank
