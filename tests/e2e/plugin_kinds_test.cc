// Every plugin kind in one boot run, what they inherit, and interactive runs
// on a real pseudo-terminal.
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"
#include "support/pty_session.h"

namespace bootcrank {
namespace testing {
namespace {

TEST(PluginKindsEndToEnd, EveryKindRunsInBarrierOrderWithOnlyTheStandardStreams) {
  Sandbox box;
  box.WriteFile("/usr/libexec/bootcrank/plugins/cmds.json",
                Descriptor("", "", "\"file append --path=/var/run/quarro/order --content=1\", "
                                   "\"file append --path=/no/such/dir/x --content=2\", "
                                   "\"file append --path=/var/run/quarro/order --content=3\""));
  ASSERT_EQ(Shell("cp '" BOOTCRANK_BINARY_DIR "/examples/native/libbootmark.so' '" + box.PluginDir() + "/'"), 0);
  // Two injections wait for the native plugin's barrier.
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                "after:bootmark-ready:after-done:test -f '" + box.Path("/var/run/quarro/bootmark.started") +
                    "' && touch '" + box.Path("/var/run/quarro/after") + "'\nfailing:bootmark-ready:x:exit 3\n"
                "fds:none:fds-done:" + ListDescriptors(box.Path("/debug.fds")) + "\n");
  box.WriteFile("/etc/init.d/evtd", "#!/bin/sh\n" + ListDescriptors(box.Path("/script.fds")) + "\n", 0755);
  // This one leaves out the directory handle it lists through.
  ASSERT_EQ(0, CompileNativePlugin(box, "fds",
                                   "  DIR *d = opendir(\"/proc/self/fd\");\n"
                                   "  FILE *out = fopen(\"" + box.Path("/native.fds") + "\", \"we\");\n"
                                   "  if (!d || !out) return 1;\n"
                                   "  for (struct dirent *e; (e = readdir(d)) != NULL;) {\n"
                                   "    int fd = atoi(e->d_name);\n"
                                   "    if (e->d_name[0] != '.' && fd != dirfd(d) && fd != fileno(out))\n"
                                   "      fprintf(out, \"%d\\n\", fd);\n"
                                   "  }\n"
                                   "  closedir(d);\n"
                                   "  return fclose(out) != 0;"));
  RunResult run = box.Run({"--init", "--parallel"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // A failed command does not end its plugin's list.
  EXPECT_EQ(box.ReadFile("/var/run/quarro/order"), "13");
  EXPECT_NE(run.out.find("cmds->start() failed: error while executing the cli"), std::string::npos) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "info", "Launching Executor")) << run.out;
  std::string log = box.ReadFile("/var/log/bootcrank-hvcli-stdout.log");
  EXPECT_EQ(Messages(log, "info"), (std::vector<std::string>{"Executor Reset - polling for commands",
                                                           "Bootcrank executor signalled to stop"})) << log;
  EXPECT_TRUE(box.Exists("/var/run/quarro/after")) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "info", "debug injection 'failing' returned 0x000300")) << run.out;
  for (const char* file : {"/debug.fds", "/native.fds", "/script.fds"}) {
    EXPECT_EQ("0\n1\n2\n", box.ReadFile(file)) << file;
  }
  EXPECT_EQ("", Leftovers(box));

  // Invoke mode runs the native plugin's second slot.
  run = box.Run({"--invoke", "--method=apply_host_profile", "--plugin=libbootmark.so"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(box.Exists("/var/run/quarro/bootmark.hostprofile")) << run.out << run.err;
  // Extensions are loaded into the executor program, which exports the magic.
  EXPECT_EQ(0, Shell("nm -D --defined-only '" + box.Path("/usr/lib/quarro/bootcrank/hvcliExecutor") +
                     "' | grep -q ' D __hvclic_magic$'"));
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

// The chain a -> x -> b -> y -> z of debug injections, each appending its name to /ran.
class InteractiveRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string config, previous = "origin";
    for (std::string name : {"a", "x", "b", "y", "z"}) {
      config += name + ":" + previous + ":" + name + "-done:echo " + name + " >> " + box_.Path("/ran") + "\n";
      previous = name + "-done";
    }
    box_.WriteFile("/etc/quarro/bootcrank/debug.conf", config);
    box_.WriteFile("/ran", "");
  }
  Sandbox box_;
};

TEST_F(InteractiveRun, AnswersExecuteSkipTroubleshootAndContinue) {
  PtySession session(ExecBody(box_.Program(), {box_.Program(), "--interactive"}, box_.Environment()));
  size_t at = 0;
  for (auto answer : std::vector<std::pair<std::string, std::string>>{{"a", "e"}, {"x", "s"}, {"b", "t"}, {"y", "c"}}) {
    const std::string prompt = "current plugin: \033[36m" + answer.first + "\n";
    ASSERT_TRUE(session.WaitFor(prompt, at)) << session.Output();
    ASSERT_TRUE(session.WaitForSettings([](const struct termios& t) { return (t.c_lflag & (ICANON | ECHO)) == 0; }));
    at = session.Output().find(prompt, at) + 1;
    session.Send(answer.second);
    if (answer.second != "t") continue;
    // The troubleshooting shell runs before its plugin, with only the standard streams.
    ASSERT_TRUE(session.WaitFor("\033[33m(t)roubleshoot\033[0m\t\033[37m(s)kip\033[0m\n", at));
    session.Send(ListDescriptors(box_.Path("/shell.fds")) + "\ngrep -E '^Sig(Blk|Ign)' /proc/self/status > " +
                 box_.Path("/shell.signals") + "\necho shell >> " + box_.Path("/ran") + "\nexit\n");
  }
  ASSERT_EQ(session.Finish(), 0) << session.Output();
  EXPECT_EQ(box_.ReadFile("/ran"), "a\nshell\nb\ny\nz\n");
  EXPECT_EQ(box_.ReadFile("/shell.fds"), "0\n1\n2\n");
  // Default signal dispositions (the program ignores SIGPIPE), an empty mask.
  EXPECT_EQ(box_.ReadFile("/shell.signals"), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
  EXPECT_EQ(Count(session.Output(), "current plugin: "), 4u) << session.Output();
}

TEST_F(InteractiveRun, StandardInputAtEndCountsAsContinue) {
  RunResult r = box_.Run({"--interactive"}, 60);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(box_.ReadFile("/ran"), "a\nx\nb\ny\nz\n");
  EXPECT_EQ(Count(r.out, "current plugin: "), 1u) << r.out;
  EXPECT_NE(r.out.find("]: error: unable to get terminal io state.\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("unable to set terminal io state"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
