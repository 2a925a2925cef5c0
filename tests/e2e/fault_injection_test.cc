// Faults injected into real runs of the installed program: plugins that
// crash, hang or kill themselves, the executor process killed in the middle
// of a run, a stale control socket, a full log file system, damaged run-once
// records, a pid file naming a dead process and a hostile plugin directory.
// Every run must end, report the fault and leave nothing behind.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "tests/e2e/hygiene.h"
#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

const char kPlugins[] = "/usr/libexec/bootcrank/plugins";

std::string List(const std::vector<std::string>& items) {
  std::string text = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "\"" : ", \"") + items[i] + "\"";
  }
  return text + "]";
}

// A JSON descriptor (interface version 1) with the given barriers and start
// command lines.
std::string Descriptor(const std::vector<std::string>& needs,
                       const std::vector<std::string>& provides,
                       const std::vector<std::string>& start) {
  return "{\"metadata\": {\"version\": 1, \"requires\": " + List(needs) +
         ", \"provides\": " + List(provides) + "},\n \"operations\": {\"start\": " +
         List(start) + "}}\n";
}

bool Contains(const std::vector<std::string>& messages, const std::string& text) {
  return std::find(messages.begin(), messages.end(), text) != messages.end();
}

bool AnyStartsWith(const std::vector<std::string>& messages, const std::string& prefix) {
  for (const std::string& m : messages) {
    if (m.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

class FaultInjection : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ("", Joined(LeftoverProcesses(box_)));
    EXPECT_EQ("", Joined(TemporaryLogFiles(box_)));
  }

  // Compiles a native plugin <plugin dir>/<name>.so whose start runs `body`.
  void NativePlugin(const std::string& name, const std::string& body) {
    std::string source = box_.Path("/" + name + ".c");
    box_.WriteFile("/" + name + ".c",
                   "#include <bootcrank/native_plugin.h>\n#include <signal.h>\n"
                   "#include <fcntl.h>\n#include <unistd.h>\n"
                   "static int Start(void) {\n" + body + "\n}\n"
                   "static int Apply(void) { return 0; }\n"
                   "const struct bootcrank_metadata metadata = {.version = 1};\n"
                   "const struct bootcrank_operations operations = {Start, Apply};\n");
    ASSERT_EQ(0, Shell("cc -shared -fPIC -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" +
                       box_.PluginDir() + "/" + name + ".so' '" + source + "'"));
  }

  Sandbox box_;
};

TEST_F(FaultInjection, CrashingAndHangingNativePluginsAreReportedAndTheRunEnds) {
  NativePlugin("crash", "volatile int *nowhere = 0; *nowhere = 1; return 0;");
  NativePlugin("hang", "sleep(2);\n  return open(\"" + box_.Path("/hang.done") +
                           "\", O_CREAT | O_WRONLY | O_CLOEXEC, 0644) < 0;");
  // Runs only once both have finished, however they finished.
  box_.WriteFile(std::string(kPlugins) + "/after.json",
                 Descriptor({"crash-ready"}, {},
                            {"file write --path=/var/run/quarro/after --content=ok"}));
  box_.WriteFile(std::string(kPlugins) + "/crash.json",
                 Descriptor({}, {"crash-ready"}, {}));

  RunResult run = box_.Run({"--parallel"});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  std::vector<std::string> errors = Messages(run.out, "error");
  // A plain build reports the signal; a sanitizer build's run-time turns the
  // fault into an exit status of its own.
  EXPECT_TRUE(AnyStartsWith(errors, "Method invocation failed: crash->start() failed: exited "))
      << run.out;
  EXPECT_FALSE(AnyStartsWith(errors, "Method invocation failed: hang->")) << run.out;
  EXPECT_TRUE(box_.Exists("/hang.done"));
  EXPECT_EQ("ok", box_.ReadFile("/var/run/quarro/after"));
}

TEST_F(FaultInjection, DebugCommandKilledBySignalIsReportedAndItsDependentsRun) {
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                 "killed:none:killed-done:kill -9 $$\n"
                 "next:killed-done:next-done:touch " + box_.Path("/next.ran") + "\n");
  RunResult run = box_.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(Contains(Messages(run.out, "info"), "debug injection 'killed' returned 0x000009"))
      << run.out;
  EXPECT_TRUE(box_.Exists("/next.ran")) << run.out;
}

TEST_F(FaultInjection, ExecutorKilledMidRunIsRestartedForLaterCommands) {
#if defined(__SANITIZE_THREAD__)
  // Here the replacement executor is forked from a worker thread of a
  // ThreadSanitizer program; the sanitizer's run-time does not survive that
  // in the child (it resets the connections it accepted), which says nothing
  // about the program. The plain and AddressSanitizer builds run this test.
  GTEST_SKIP() << "a ThreadSanitizer program cannot serve from a child forked by a worker thread";
#endif
  // Kills every copy of this sandbox's program except the run itself (the
  // one child of this test process): that is the executor process.
  box_.WriteFile("/kill-executor",
                 "program=" + box_.Program() + "\n"
                 "for dir in /proc/[0-9]*; do\n"
                 "  pid=${dir#/proc/}\n"
                 "  [ \"$(readlink $dir/exe)\" = \"$program\" ] || continue\n"
                 "  parent=$(awk '{print $4}' $dir/stat 2>/dev/null)\n"
                 "  [ \"$parent\" = " + std::to_string(getpid()) + " ] && continue\n"
                 "  kill -9 $pid && echo $pid >> " + box_.Path("/killed") + "\n"
                 "done\n",
                 0755);
  box_.WriteFile(std::string(kPlugins) + "/before.json",
                 Descriptor({}, {"before-done"},
                            {"file write --path=/var/run/quarro/before --content=1"}));
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                 "killer:before-done:killer-done:" + box_.Path("/kill-executor") + "\n");
  box_.WriteFile(std::string(kPlugins) + "/after.json",
                 Descriptor({"killer-done"}, {},
                            {"file write --path=/var/run/quarro/after --content=2",
                             "file append --path=/var/run/quarro/after --content=3"}));

  RunResult run = box_.Run({"--parallel"});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  ASSERT_TRUE(box_.Exists("/killed")) << "no executor process found to kill\n" << run.out;
  std::string killed = box_.ReadFile("/killed");
  EXPECT_EQ(1, std::count(killed.begin(), killed.end(), '\n')) << killed;
  EXPECT_EQ("1", box_.ReadFile("/var/run/quarro/before"));
  EXPECT_EQ("23", box_.ReadFile("/var/run/quarro/after")) << run.out;
  // The one error is the refused connection that made the run start a new
  // executor process.
  EXPECT_EQ(std::vector<std::string>{"Failed connecting to executor Connection refused"},
            Messages(run.out, "error"))
      << run.out;
}

TEST_F(FaultInjection, StaleControlSocketIsReplaced) {
  // A socket file that nobody listens on any more, as a killed executor
  // leaves it.
  std::string path = box_.Path("/var/run/quarro/bootcrankExecutor.sock");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  memcpy(address.sun_path, path.c_str(), path.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
  close(fd);
  ASSERT_TRUE(box_.Exists("/var/run/quarro/bootcrankExecutor.sock"));

  box_.WriteFile(std::string(kPlugins) + "/marker.json",
                 Descriptor({}, {}, {"file write --path=/var/run/quarro/marker --content=m"}));
  RunResult run = box_.Run({});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_EQ("m", box_.ReadFile("/var/run/quarro/marker")) << run.out;
}

TEST_F(FaultInjection, FullLogFileSystemKeepsTheOldProfilingLog) {
  if (Shell("unshare -m true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no private mount namespace here (unshare -m needs CAP_SYS_ADMIN), so "
                    "no small file system can be mounted for the log";
  }
  box_.WriteFile(std::string(kPlugins) + "/one.json", Descriptor({}, {}, {}));
  const std::string root = box_.Root();
  // Inside the namespace: a 64 KiB tmpfs on /var/log holding the old log and
  // a filler that takes every free block; then the run; then the results are
  // copied out, since the mount vanishes with the namespace.
  box_.WriteFile("/full-log.sh",
                 "set -e\n"
                 "mount -t tmpfs -o size=64k tmpfs '" + root + "/var/log'\n"
                 "printf 'the old log\\n' > '" + root + "/var/log/sysboot.log'\n"
                 "dd if=/dev/zero of='" + root + "/var/log/filler' bs=1024 2>/dev/null || true\n"
                 "set +e\n"
                 "BOOTCRANK_ROOT='" + root + "' '" + box_.Program() + "' > '" + root +
                     "/out' 2>&1\n"
                 "echo $? > '" + root + "/status'\n"
                 "cp '" + root + "/var/log/sysboot.log' '" + root + "/kept.log'\n"
                 "ls -a '" + root + "/var/log' > '" + root + "/listing'\n");
  ASSERT_EQ(0, Shell("unshare -m --propagation private sh '" + root + "/full-log.sh'"));
  std::string out = box_.ReadFile("/out");
  EXPECT_EQ("0\n", box_.ReadFile("/status")) << out;
  EXPECT_TRUE(AnyStartsWith(Messages(out, "warning"), "unable to log profiling information: "))
      << out;
  EXPECT_EQ("the old log\n", box_.ReadFile("/kept.log"));
  EXPECT_EQ(std::string::npos, box_.ReadFile("/listing").find("sysboot.log."))
      << box_.ReadFile("/listing");
}

// gzip of `text`, cut to `keep` bytes when that is smaller.
std::string Gzip(const Sandbox& box, const std::string& text, size_t keep = std::string::npos) {
  box.WriteFile("/plain", text);
  EXPECT_EQ(0, Shell("gzip -n -c '" + box.Path("/plain") + "' > '" + box.Path("/packed") + "'"));
  std::string packed = box.ReadFile("/packed");
  return packed.substr(0, std::min(keep, packed.size()));
}

TEST_F(FaultInjection, DamagedRunOnceRecordsAreIgnoredAndRewritten) {
  box_.WriteFile(std::string(kPlugins) + "/once.json",
                 "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [],"
                 " \"run_once\": true, \"plugin_version\": \"1.0\"},\n"
                 " \"operations\": {\"start\": [\"file append --path=/var/run/quarro/once"
                 " --content=x\"]}}\n");
  const std::string valid = "bootcrank.run-once=once1.0,\n";
  struct Case {
    const char* what;
    std::string record;
  } cases[] = {
      {"truncated gzip", Gzip(box_, valid, 12)},
      {"gzip of another record", Gzip(box_, "someoneelse.run-once=once1.0,\n")},
      {"gzip with a bad check sum", Gzip(box_, valid)},
      {"random bytes", std::string("\x1f\x8b\x08\x00\xde\xad\xbe\xef\x00\xff", 10) +
                           std::string(300, '\x5a')},
      {"empty file", ""},
  };
  // Flip a byte of the CRC at the end of the third record.
  cases[2].record[cases[2].record.size() - 6] ^= 0x55;

  std::string expectedRuns;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    box_.WriteFile("/bootbank/bootcrnk.gz", c.record);
    RunResult run = box_.Run({"--invoke", "--method=start", "--plugin=once.json"});
    EXPECT_EQ(0, run.status) << run.out << run.err;
    expectedRuns += "x";
    EXPECT_EQ(expectedRuns, box_.ReadFile("/var/run/quarro/once")) << run.out;
    ASSERT_EQ(0, Shell("gzip -dc '" + box_.Path("/bootbank/bootcrnk.gz") + "' > '" +
                       box_.Path("/record") + "'"));
    EXPECT_EQ(valid, box_.ReadFile("/record"));
  }
}

TEST_F(FaultInjection, PidFileNamingAGoneProcessIsAWarning) {
  pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(gone, waitpid(gone, nullptr, 0));
  box_.WriteFile("/var/run/quarro/hvsyslogd.pid", std::to_string(gone) + "\n");

  RunResult run = box_.Run({"--init"});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(Contains(Messages(run.out, "warning"), "failed to reload hvsyslogd: No such process."))
      << run.out;
}

TEST_F(FaultInjection, HostilePluginDirectoryDoesNotStopDiscovery) {
  const std::string dir = box_.PluginDir();
  // Thousands of files of no known type, in one shell call.
  ASSERT_EQ(0, Shell("cd '" + dir + "' && i=0; while [ $i -lt 3000 ]; do : > note$i.txt;"
                     " i=$((i+1)); done"));
  for (int i = 0; i < 5; ++i) {
    std::string name = "good" + std::to_string(i);
    box_.WriteFile(std::string(kPlugins) + "/" + name + ".json", MarkingDescriptor(name));
  }
  box_.MakeDirectory(std::string(kPlugins) + "/subdir");
  box_.MakeDirectory(std::string(kPlugins) + "/directory.json");
  box_.MakeDirectory(std::string(kPlugins) + "/directory.so");
  box_.WriteFile(std::string(kPlugins) + "/subdir/hidden.json", MarkingDescriptor("hidden"));
  box_.WriteFile(std::string(kPlugins) + "/unreadable.json", MarkingDescriptor("unreadable"),
                 0000);
  box_.WriteFile(std::string(kPlugins) + "/garbage.so", "not an object file\n");
  ASSERT_EQ(0, Shell("cd '" + dir + "' && ln -s /nonexistent/x.json dangling.json &&"
                     " ln -s loop.json loop.json && ln -s ping.so pong.so &&"
                     " ln -s pong.so ping.so && ln -s subdir linked.json &&"
                     " ln -s subdir linked.debug && ln -s . self.json"));

  RunResult run = box_.Run({"--parallel"}, 300);
  EXPECT_EQ(0, run.status) << run.err;
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(box_.Exists("/var/run/quarro/good" + std::to_string(i) + ".ran")) << i;
  }
  EXPECT_FALSE(box_.Exists("/var/run/quarro/hidden.ran"));
  // Every odd entry was looked at and reported, and none stopped the others.
  std::vector<std::string> warnings = Messages(run.out, "warning");
  EXPECT_GE(warnings.size(), 3000u);
  EXPECT_TRUE(Messages(run.out, "panic").empty()) << run.out.substr(0, 4000);
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
