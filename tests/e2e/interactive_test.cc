// Interactive runs of the installed program: the operator's answers on a
// real pseudo-terminal decide which debug injections run.
#include <gtest/gtest.h>

#include "support/pty_session.h"
#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

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
  // What the shell starts has the default signal dispositions (the program
  // ignores SIGPIPE) and an empty signal mask.
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
