// Interactive runs of the installed program on a real pseudo-terminal: the
// operator's answers decide which debug injections run, and in which order
// with a troubleshooting shell.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/pty_session.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

using testing::PtySession;
using testing::RunResult;
using testing::Sandbox;

const char kRedrawTroubleshoot[] =
    "\r\033[37m(c)ontinue\033[0m\t\033[37m(e)xecute\033[0m\t"
    "\033[33m(t)roubleshoot\033[0m\t\033[37m(s)kip\033[0m\n";

std::string PromptFor(const std::string& name) { return "current plugin: \033[36m" + name + "\n"; }

bool KeysAreRaw(const struct termios& settings) {
  return (settings.c_lflag & (ICANON | ECHO)) == 0;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

// A sandbox whose run is the chain a -> x -> b -> y of debug injections, each
// appending its name to /ran.
class InteractiveRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string ran = box_.Path("/ran");
    box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                   "a:origin:a-done:echo a >> " + ran + "\n" +
                   "x:a-done:x-done:echo x >> " + ran + "\n" +
                   "b:x-done:b-done:echo b >> " + ran + "\n" +
                   "y:b-done:y-done:echo y >> " + ran + "\n");
    box_.WriteFile("/ran", "");
  }

  // The program on a terminal, in an interactive run with `extra` options.
  std::unique_ptr<PtySession> Start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {box_.Program(), "--interactive"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<PtySession>(
        testing::ExecBody(box_.Program(), argv, box_.Environment()));
  }

  // Waits for the question about `name` (after `from`), then types `key`.
  // Returns where the question began, or npos when it never came.
  size_t Answer(PtySession& session, const std::string& name, const std::string& key,
                size_t from) {
    if (!session.WaitFor(PromptFor(name), from)) return std::string::npos;
    if (!session.WaitForSettings(KeysAreRaw)) return std::string::npos;
    session.Send(key);
    return session.Output().find(PromptFor(name), from);
  }

  std::string Ran() const { return box_.ReadFile("/ran"); }

  Sandbox box_;
};

TEST_F(InteractiveRun, ExecuteAnsweredForEachPluginRunsThemAll) {
  auto session = Start();
  size_t at = 0;
  for (const char* name : {"a", "x", "b", "y"}) {
    at = Answer(*session, name, name == std::string("b") ? "E" : "e", at);
    ASSERT_NE(at, std::string::npos) << session->Output();
    ++at;
  }
  ASSERT_EQ(session->Finish(), 0) << session->Output();
  EXPECT_EQ(Ran(), "a\nx\nb\ny\n");
  EXPECT_EQ(Count(session->Output(), "current plugin: "), 4u);
}

TEST_F(InteractiveRun, SkippedPluginDoesNotRunButItsDependentsDo) {
  auto session = Start();
  size_t at = 0;
  for (auto answer : {std::make_pair("a", "e"), std::make_pair("x", "s"),
                      std::make_pair("b", "e"), std::make_pair("y", "e")}) {
    at = Answer(*session, answer.first, answer.second, at);
    ASSERT_NE(at, std::string::npos) << session->Output();
    ++at;
  }
  ASSERT_EQ(session->Finish(), 0) << session->Output();
  EXPECT_EQ(Ran(), "a\nb\ny\n");
  const std::string& out = session->Output();
  EXPECT_NE(out.find("]: info: skipping plugin x (interactive mode request)\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("Activating Bootcrank plugin x."), std::string::npos);
}

TEST_F(InteractiveRun, ContinueAtTheSecondPluginRunsTheRestWithoutQuestions) {
  auto session = Start();
  size_t at = Answer(*session, "a", "e", 0);
  ASSERT_NE(at, std::string::npos) << session->Output();
  ASSERT_NE(Answer(*session, "x", "c", at + 1), std::string::npos) << session->Output();
  ASSERT_EQ(session->Finish(), 0) << session->Output();
  EXPECT_EQ(Ran(), "a\nx\nb\ny\n");
  EXPECT_EQ(Count(session->Output(), "current plugin: "), 2u);
}

TEST_F(InteractiveRun, TroubleshootingShellRunsBeforeThePlugin) {
  auto session = Start();
  ASSERT_NE(Answer(*session, "a", "t", 0), std::string::npos) << session->Output();
  ASSERT_TRUE(session->WaitFor(kRedrawTroubleshoot)) << session->Output();
  session->Send("echo shell-$((6*7)) >> " + box_.Path("/ran") + "\nexit\n");
  ASSERT_NE(Answer(*session, "x", "c", 0), std::string::npos) << session->Output();
  ASSERT_EQ(session->Finish(), 0) << session->Output();
  EXPECT_EQ(Ran(), "shell-42\na\nx\nb\ny\n");
  EXPECT_NE(session->Output().find("\033[2K"), std::string::npos);
}

TEST_F(InteractiveRun, RequiredPluginsRunBeforeTheFirstQuestion) {
  auto session = Start({"--interactive-mode-requires=a,b"});
  ASSERT_NE(Answer(*session, "y", "e", 0), std::string::npos) << session->Output();
  ASSERT_EQ(session->Finish(), 0) << session->Output();
  EXPECT_EQ(Ran(), "a\nx\nb\ny\n");
  EXPECT_EQ(Count(session->Output(), "current plugin: "), 1u) << session->Output();
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
}  // namespace bootcrank
