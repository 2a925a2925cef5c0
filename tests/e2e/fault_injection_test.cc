// Faults injected into real runs: each must end, report it and leave nothing.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

class FaultInjection : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ("", Leftovers(box_)); }
  Sandbox box_;
};

// Faults that do not interfere share one boot run: native plugins that crash
// or hang, a debug command that kills itself, a stale control socket, a pid
// file of a gone process, FIFOs in place of files, odd plugin entries.
TEST_F(FaultInjection, OneBootRunSurvivesEveryFaultAndReportsEach) {
  ASSERT_EQ(0, CompileNativePlugin(box_, "crash", "volatile int *nowhere = 0; *nowhere = 1; return 0;"));
  ASSERT_EQ(0, CompileNativePlugin(box_, "hang", "sleep(2);\n  return open(\"" + box_.Path("/hang.done") +
                                                     "\", O_CREAT | O_WRONLY | O_CLOEXEC, 0644) < 0;"));
  // Runs only once the crashing plugin finished, however it finished.
  box_.WritePlugin("after.json",
                   Descriptor("\"crash-ready\"", "",
                              "\"file write --path=/var/run/quarro/after --content=ok\""));
  box_.WritePlugin("crash.json", Descriptor("", "\"crash-ready\"", ""));
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                 "killed:none:killed-done:kill -9 $$\n"
                 "next:killed-done:next-done:touch " + box_.Path("/next.ran") + "\n");

  // A socket file nobody listens on any more, as a killed executor leaves it.
  sockaddr_un address{AF_UNIX, {}};
  box_.Path("/var/run/quarro/bootcrankExecutor.sock").copy(address.sun_path, sizeof address.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
  close(fd);
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(gone, waitpid(gone, nullptr, 0));
  box_.WriteFile("/var/run/quarro/hvsyslogd.pid", std::to_string(gone) + "\n");
  // FIFOs nobody reads at the executor's log and the record: no waiting.
  for (const char* path : {"/var/log/bootcrank-hvcli-stdout.log", "/bootbank/bootcrnk.gz"}) {
    box_.Remove(path);
    ASSERT_EQ(0, mkfifo(box_.Path(path).c_str(), 0644)) << path;
  }

  ASSERT_EQ(0, Shell("cd '" + box_.PluginDir() + "' && i=0; while [ $i -lt 3000 ]; do : > note$i.txt;"
                     " i=$((i+1)); done && mkdir subdir directory.json directory.so &&"
                     " ln -s /nonexistent/x.json dangling.json && ln -s loop.json loop.json &&"
                     " ln -s ping.so pong.so && ln -s pong.so ping.so && ln -s subdir linked.json &&"
                     " ln -s subdir linked.debug && ln -s . self.json && mkfifo fifo.so fifo.json"));
  box_.WritePlugin("good.json", MarkingDescriptor("good"));
  box_.WritePlugin("subdir/hidden.json", MarkingDescriptor("hidden"));
  box_.WritePlugin("unreadable.json", MarkingDescriptor("unreadable"), 0000);
  box_.WritePlugin("garbage.so", "not an object file\n");

  RunResult run = RunExpecting(box_, {"--init", "--parallel"}, 0, 300);
  // A sanitizer's run-time turns the signal into an exit status.
  EXPECT_EQ(1, CountRecords(run.out, "error", "Method invocation failed: crash->start() failed: exited "));
  EXPECT_EQ(0, CountRecords(run.out, "error", "Method invocation failed: hang->"));
  EXPECT_TRUE(box_.Exists("/hang.done"));
  EXPECT_EQ("ok", box_.ReadFile("/var/run/quarro/after"));
  EXPECT_TRUE(HasRecord(run.out, "info", "debug injection 'killed' returned 0x000009"));
  EXPECT_TRUE(box_.Exists("/next.ran"));
  EXPECT_TRUE(HasRecord(run.out, "warning", "failed to reload hvsyslogd: No such process."));
  EXPECT_TRUE(HasRecord(run.out, "warning", "unable to write run-once record (" +
                                                box_.Path("/bootbank/bootcrnk.gz") + "): " +
                                                strerror(ENXIO) + "."));
  EXPECT_TRUE(box_.Exists("/var/run/quarro/good.ran"));
  EXPECT_FALSE(box_.Exists("/var/run/quarro/hidden.ran"));
  EXPECT_TRUE(HasRecord(run.out, "alert", "exception occurred whilst loading plugin fifo.so: plugin `" +
                                              box_.PluginDir() + "/fifo.so' is invalid: not a regular file"))
      << run.out.substr(0, 4000);
  EXPECT_GE(Messages(run.out, "warning").size(), 3000u);
  EXPECT_TRUE(Messages(run.out, "panic").empty()) << run.out.substr(0, 4000);
}

TEST_F(FaultInjection, ExecutorKilledMidRunIsRestartedForLaterCommands) {
  box_.WriteFile("/kill-executor",
                 "for dir in /proc/[0-9]*; do\n"
                 "  [ \"$(readlink $dir/exe)\" = " + box_.Path("/usr/lib/quarro/bootcrank/hvcliExecutor") +
                     " ] || continue\n"
                 "  kill -9 ${dir#/proc/} && echo ${dir#/proc/} >> " + box_.Path("/killed") + "\n"
                 // SIGKILL lands asynchronously: until the process is a zombie its
                 // listener still takes connections, and a command sent to it is
                 // lost with a reset rather than refused.
                 "  while s=$(cut -d' ' -f3 $dir/stat 2>/dev/null) && [ \"$s\" != Z ]; do sleep 0.01; done\n"
                 "done\n", 0755);
  box_.WritePlugin("before.json",
                   Descriptor("", "\"before-done\"",
                              "\"file write --path=/var/run/quarro/before --content=1\""));
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                 "killer:before-done:killer-done:" + box_.Path("/kill-executor") + "\n");
  box_.WritePlugin("after.json",
                   Descriptor("\"killer-done\"", "",
                              "\"file write --path=/var/run/quarro/after --content=2\", "
                              "\"file append --path=/var/run/quarro/after --content=3\""));
  RunResult run = RunExpecting(box_, {"--parallel"});
  std::string killed = box_.ReadFile("/killed");  // one executor process found and killed
  EXPECT_EQ(1, std::count(killed.begin(), killed.end(), '\n')) << killed << run.out;
  EXPECT_EQ("1", box_.ReadFile("/var/run/quarro/before"));
  EXPECT_EQ("23", box_.ReadFile("/var/run/quarro/after")) << run.out;
  EXPECT_EQ(std::vector<std::string>{"Failed connecting to executor Connection refused"},
            Messages(run.out, "error")) << run.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
