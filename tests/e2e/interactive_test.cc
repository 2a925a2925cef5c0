// Interactive runs of the installed program on a real pseudo-terminal: the
// operator's answers decide which debug injections run.
#include <gtest/gtest.h>

#include <memory>

#include "support/pty_session.h"
#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

std::string PromptFor(const std::string& name) { return "current plugin: \033[36m" + name + "\n"; }

size_t Count(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

// A run of the chain a -> x -> b -> y of debug injections, each appending its name to /ran.
class InteractiveRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string ran = " >> " + box_.Path("/ran") + "\n";
    box_.WriteFile("/etc/quarro/bootcrank/debug.conf", "a:origin:a-done:echo a" + ran +
                   "x:a-done:x-done:echo x" + ran + "b:x-done:b-done:echo b" + ran +
                   "y:b-done:y-done:echo y" + ran);
    box_.WriteFile("/ran", "");
  }
  // Answers the questions in order, each once it is asked and keys are raw;
  // then waits for the end of the run.
  void Run(const std::vector<std::pair<std::string, std::string>>& answers,
           const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {box_.Program(), "--interactive"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    session_ = std::make_unique<PtySession>(ExecBody(box_.Program(), argv, box_.Environment()));
    size_t at = 0;
    for (const auto& answer : answers) {
      ASSERT_TRUE(session_->WaitFor(PromptFor(answer.first), at)) << session_->Output();
      ASSERT_TRUE(session_->WaitForSettings(
          [](const struct termios& t) { return (t.c_lflag & (ICANON | ECHO)) == 0; }));
      at = session_->Output().find(PromptFor(answer.first), at) + 1;
      session_->Send(answer.second);
      if (answer.second == "t") {
        ASSERT_TRUE(session_->WaitFor("\033[33m(t)roubleshoot\033[0m\t\033[37m(s)kip\033[0m\n", at));
        session_->Send("echo shell-$((6*7)) >> " + box_.Path("/ran") + "\nexit\n");
      }
    }
    ASSERT_EQ(session_->Finish(), 0) << session_->Output();
  }
  std::string Ran() const { return box_.ReadFile("/ran"); }

  Sandbox box_;
  std::unique_ptr<PtySession> session_;
};

TEST_F(InteractiveRun, ExecuteRunsAndSkipDropsOnlyThatPlugin) {
  Run({{"a", "e"}, {"x", "s"}, {"b", "E"}, {"y", "e"}});
  EXPECT_EQ(Ran(), "a\nb\ny\n");
  EXPECT_NE(session_->Output().find("]: info: skipping plugin x (interactive mode request)\n"),
            std::string::npos) << session_->Output();
}

TEST_F(InteractiveRun, TroubleshootingShellRunsFirstAndContinueEndsTheQuestions) {
  Run({{"a", "t"}, {"x", "c"}});
  EXPECT_EQ(Ran(), "shell-42\na\nx\nb\ny\n");
  EXPECT_EQ(Count(session_->Output(), "current plugin: "), 2u) << session_->Output();
}

TEST_F(InteractiveRun, RequiredPluginsRunBeforeTheFirstQuestion) {
  Run({{"y", "e"}}, {"--interactive-mode-requires=a,b"});
  EXPECT_EQ(Ran(), "a\nx\nb\ny\n");
  EXPECT_EQ(Count(session_->Output(), "current plugin: "), 1u) << session_->Output();
}

TEST_F(InteractiveRun, StandardInputAtEndCountsAsContinue) {
  RunResult r = box_.Run({"--interactive"}, 60);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Ran(), "a\nx\nb\ny\n");
  EXPECT_EQ(Count(r.out, "current plugin: "), 1u) << r.out;
  EXPECT_NE(r.out.find("]: error: unable to get terminal io state.\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("unable to set terminal io state"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
