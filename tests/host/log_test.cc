#include "host/log.h"

#include <fcntl.h>
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
#include <functional>
#include <regex>
#include <thread>

#include "host/host_control.h"
#include "host/logging.h"
#include "support/log_capture.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace {

// Every way of logging yields "<UTC time> bootcrank[<pid>]: <tag>: <text>",
// one newline added only when the text lacks one.
TEST(Log, RecordsHaveTimeIdentityPidTagAndOneNewline) {
  InitLogging("bootcrank");
  testing::LogCapture capture;
  Log_Level(kLogError, "first %d\n", 1);
  Log_Level(kLogInfo, "second\n\n");
  Warning("third %s", "w");
  HvkCtl::System::SystemInfoImpl().SetSystemAlert("raised");
  HvkCtl::System::KernelProgressScreenImpl screen;
  screen.ProgressText("progressing");
  screen.StatusText("");  // writes nothing
  screen.StatusText("state");
  std::regex head(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z bootcrank\[)" + std::to_string(getpid()) + R"(\]: )");
  EXPECT_EQ(std::regex_replace(capture.Text(), head, ""),
            "error: first 1\ninfo: second\n\nwarning: third w\nalert: raised\nprogress: progressing\nstatus: state\n");
}

TEST(Log, ConcurrentRecordsNeverInterleave) {
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

// Runs `action` in a child whose private mount namespace has a tmpfs over
// /dev with a datagram socket at /dev/log, and returns the records that
// reached it, one a line. Returns false where mounting is not permitted.
bool SyslogOf(const std::function<void()>& action, std::string* records) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev", "tmpfs", 0, "size=64k") != 0) {
      _exit(2);
    }
    sockaddr_un address{AF_UNIX, "/dev/log"};
    int sink = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(3);
    action();
    char record[4096];
    for (ssize_t n; (n = recv(sink, record, sizeof record, MSG_DONTWAIT)) > 0;) {
      if (write(pipeFds[1], record, n) != n || write(pipeFds[1], "\n", 1) != 1) _exit(4);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) records->append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 3 && WEXITSTATUS(status) != 4) << status;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One line per call in <root>/dev/kmsg. Without the device (never created)
// or with a FIFO nobody reads in its place (never waited for), two error
// records go to the system log instead: the failure, then the message.
TEST(Log, KernelLogGoesToKmsgElseToSyslog) {
  InitLogging("bootcrank");
  testing::TempRoot root;
  boost::filesystem::create_directories(root.Path("dev"));
  for (int error : {ENOENT, ENXIO}) {
    if (error == ENXIO) {
      ASSERT_EQ(0, mkfifo(root.Path("dev/kmsg").c_str(), 0644));
    }
    std::string records;
    if (SyslogOf([] { KernelLog("to syslog %s", "instead"); }, &records)) {
      std::regex record(R"(<(\d+)>[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d bootcrank\[\d+\]: (.*)\n)");
      std::vector<std::string> texts;
      for (std::sregex_iterator it(records.begin(), records.end(), record), end; it != end; ++it) {
        EXPECT_EQ(LOG_DAEMON | LOG_ERR, std::stoi((*it)[1])) << it->str();
        texts.push_back((*it)[2]);
      }
      EXPECT_EQ((std::vector<std::string>{"Exception occurred while logging msg: unable to open " +
                                              root.Path("dev/kmsg") + ": " + strerror(error),
                                          "to syslog instead"}),
                texts)
          << records;
    } else {
      KernelLog("to syslog %s", "instead");  // no mount namespace here: unobserved
    }
    EXPECT_EQ(error == ENXIO, boost::filesystem::exists(root.Path("dev/kmsg")));
  }
  boost::filesystem::remove(root.Path("dev/kmsg"));
  root.Write("dev/kmsg", "");
  KernelLog("Bootcrank plugin %s activated.", "net");
  KernelLog("second %d", 2);
  EXPECT_EQ(root.Read("dev/kmsg"), "<6>bootcrank: Bootcrank plugin net activated.\n<6>bootcrank: second 2\n");
}

}  // namespace
}  // namespace bootcrank
