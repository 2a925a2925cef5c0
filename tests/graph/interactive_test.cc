// The console prompt on a real pseudo-terminal: a forked child runs the
// interactive step (or a whole plugin activation) on the terminal's slave
// side while the test types on the master side and reads what was written.

#include "graph/interactive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "plugins/plugin.h"
#include "runcontrol/settings.h"
#include "support/pty_session.h"

namespace bootcrank {
namespace {

using testing::PtySession;

const char kMenuAfterPrompt[] =
    "\033[35m(c)ontinue\033[0m\t\033[32m(e)xecute\033[0m\t"
    "\033[33m(t)roubleshoot\033[0m\t\033[31m(s)kip\033[0m\033[?25l";
const char kRedrawContinue[] =
    "\r\033[35m(c)ontinue\033[0m\t\033[37m(e)xecute\033[0m\t"
    "\033[37m(t)roubleshoot\033[0m\t\033[37m(s)kip\033[0m\n";
const char kRedrawExecute[] =
    "\r\033[37m(c)ontinue\033[0m\t\033[32m(e)xecute\033[0m\t"
    "\033[37m(t)roubleshoot\033[0m\t\033[37m(s)kip\033[0m\n";
const char kRedrawTroubleshoot[] =
    "\r\033[37m(c)ontinue\033[0m\t\033[37m(e)xecute\033[0m\t"
    "\033[33m(t)roubleshoot\033[0m\t\033[37m(s)kip\033[0m\n";
const char kRedrawSkip[] =
    "\r\033[37m(c)ontinue\033[0m\t\033[37m(e)xecute\033[0m\t"
    "\033[37m(t)roubleshoot\033[0m\t\033[31m(s)kip\033[0m\n";
const char kCursorShown[] = "\033[?25h";

std::string PromptFor(const std::string& name) {
  return "current plugin: \033[36m" + name + "\n" + kMenuAfterPrompt;
}

bool KeysAreRaw(const struct termios& settings) {
  return (settings.c_lflag & (ICANON | ECHO)) == 0;
}

// Child side: the step's result and the state it left behind, as one line.
int Report(InteractiveOutcome outcome) {
  struct termios settings;
  bool known = tcgetattr(STDIN_FILENO, &settings) == 0;
  printf("RESULT outcome=%s interactive=%d echo=%d icanon=%d\n",
         outcome == InteractiveOutcome::kSkip ? "skip" : "go-on",
         Settings::Instance().interactive ? 1 : 0,
         known && (settings.c_lflag & ECHO) != 0 ? 1 : 0,
         known && (settings.c_lflag & ICANON) != 0 ? 1 : 0);
  return 0;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

class InteractivePrompt : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bc-interactive-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    // A host root of our own, so the console switches never reach the
    // machine's real console; the kernel log is a plain file in it.
    ASSERT_EQ(mkdir((root_ + "/dev").c_str(), 0755), 0);
    std::ofstream(root_ + "/dev/kmsg").close();
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf '" + root_ + "'").c_str()), 0); }

  // `body` in a child on a new terminal, in an interactive run with the
  // given requires list.
  std::unique_ptr<PtySession> Start(const std::vector<std::string>& pending,
                                    const std::function<int()>& body) {
    std::string root = root_;
    return std::make_unique<PtySession>([root, pending, body]() {
      setenv("BOOTCRANK_ROOT", root.c_str(), 1);
      Settings& settings = Settings::Instance();
      settings.interactive = true;
      settings.interactiveRequires = pending;
      return body();
    });
  }

  std::unique_ptr<PtySession> StartStep(const std::string& name) {
    return Start({}, [name]() { return Report(InteractiveStep(name)); });
  }

  std::string root_;
};

TEST_F(InteractivePrompt, ExecuteWritesTheExactMenuIgnoresOtherKeysAndAcceptsUpperCase) {
  auto session = StartStep("net-setup");
  ASSERT_TRUE(session->WaitFor("\033[?25l")) << session->Output();
  ASSERT_TRUE(session->WaitForSettings(KeysAreRaw)) << "canonical input or echo still on";
  // Neither the ignored keys nor the answer may be echoed.
  session->Send("xq\r\n E");
  ASSERT_EQ(session->Finish(), 0);
  EXPECT_EQ(session->Output(), PromptFor("net-setup") + kCursorShown + kRedrawExecute +
                                   "RESULT outcome=go-on interactive=1 echo=1 icanon=1\n");
}

TEST_F(InteractivePrompt, ContinueAndSkipRedrawTheMenuAndAct) {
  struct Case {
    const char* key;
    const char* redraw;
    const char* result;
    bool logsSkip;
  };
  const Case cases[] = {
      {"c", kRedrawContinue, "RESULT outcome=go-on interactive=0 echo=1 icanon=1\n", false},
      {"C", kRedrawContinue, "RESULT outcome=go-on interactive=0 echo=1 icanon=1\n", false},
      {"s", kRedrawSkip, "RESULT outcome=skip interactive=1 echo=1 icanon=1\n", true},
      {"S", kRedrawSkip, "RESULT outcome=skip interactive=1 echo=1 icanon=1\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("key ") + c.key);
    auto session = StartStep("storage");
    ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
    session->Send(c.key);
    ASSERT_EQ(session->Finish(), 0);
    const std::string& out = session->Output();
    std::string head = PromptFor("storage") + kCursorShown;
    ASSERT_EQ(out.substr(0, head.size()), head) << out;
    std::string rest = out.substr(head.size());
    std::string tail = std::string(c.redraw) + c.result;
    ASSERT_GE(rest.size(), tail.size()) << out;
    EXPECT_EQ(rest.substr(rest.size() - tail.size()), tail) << out;
    // Between the two: nothing, or the skip record (logged before the redraw).
    std::string between = rest.substr(0, rest.size() - tail.size());
    if (c.logsSkip) {
      EXPECT_NE(between.find("]: info: skipping plugin storage (interactive mode request)\n"),
                std::string::npos)
          << out;
      EXPECT_EQ(Count(between, "\n"), 1u) << out;
    } else {
      EXPECT_EQ(between, "");
    }
  }
}

TEST_F(InteractivePrompt, TroubleshootRunsAShellOnTheTerminalThenExecutes) {
  auto session = Start({}, []() {
    // A descriptor the shell must not inherit, although not close-on-exec.
    dup2(STDOUT_FILENO, 20);
    return Report(InteractiveStep("firewall"));
  });
  ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
  session->Send("T");
  ASSERT_TRUE(session->WaitFor(kRedrawTroubleshoot)) << session->Output();
  size_t shellStart = session->Output().find(kRedrawTroubleshoot) + strlen(kRedrawTroubleshoot);
  // Computed texts, so that the terminal's echo of the commands cannot match.
  session->Send(
      "if [ -e /proc/$$/fd/20 ]; then echo fd-$((20))-open; else echo fd-$((20))-closed; fi\n"
      "if [ \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\" ]; then echo own-$((1))-session; fi\n"
      "echo shell-$((6*7))-ran\n"
      "exit\n");
  ASSERT_EQ(session->Finish(), 0);
  std::string shell = session->Output().substr(shellStart);
  EXPECT_NE(shell.find("fd-20-closed"), std::string::npos) << shell;
  EXPECT_NE(shell.find("own-1-session"), std::string::npos) << shell;
  size_t ran = shell.find("shell-42-ran");
  ASSERT_NE(ran, std::string::npos) << shell;
  size_t erased = shell.find("\033[2K", ran);
  ASSERT_NE(erased, std::string::npos) << shell;
  EXPECT_EQ(shell.substr(erased),
            "\033[2KRESULT outcome=go-on interactive=1 echo=1 icanon=1\n");
  EXPECT_EQ(session->Output().substr(0, shellStart),
            PromptFor("firewall") + kCursorShown + kRedrawTroubleshoot);
}

TEST_F(InteractivePrompt, RequiresListPostponesTheFirstQuestion) {
  // Run order a, x, b, y with requires a,b: only y is asked about.
  auto session = Start({"a", "b", "a"}, []() {
    for (const char* name : {"a", "x", "b", "y"}) {
      InteractiveOutcome outcome = InteractiveStep(name);
      printf("after %s: %s remaining=%zu\n", name,
             outcome == InteractiveOutcome::kSkip ? "skip" : "go-on",
             Settings::Instance().interactiveRequires.size());
      fflush(stdout);
    }
    return 0;
  });
  ASSERT_TRUE(session->WaitFor("current plugin: ")) << session->Output();
  ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
  session->Send("e");
  ASSERT_EQ(session->Finish(), 0);
  EXPECT_EQ(session->Output(),
            std::string("after a: go-on remaining=1\n"
                        "after x: go-on remaining=1\n"
                        "after b: go-on remaining=0\n") +
                PromptFor("y") + kCursorShown + kRedrawExecute + "after y: go-on remaining=0\n");
}

TEST_F(InteractivePrompt, RequiredPluginThatNeverRunsKeepsPromptingOff) {
  auto session = Start({"a", "never"}, []() {
    for (const char* name : {"a", "x", "b"}) {
      if (InteractiveStep(name) != InteractiveOutcome::kGoOn) return 1;
    }
    printf("remaining=%s\n", Settings::Instance().interactiveRequires.at(0).c_str());
    return 0;
  });
  ASSERT_EQ(session->Finish(), 0);
  EXPECT_EQ(session->Output(), "remaining=never\n");
}

TEST_F(InteractivePrompt, EndOfInputCountsAsContinue) {
  // Standard input that is not a terminal: its state cannot be read, so it
  // is left alone, and the first read ends the input.
  auto session = Start({}, []() {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    close(null);
    return Report(InteractiveStep("late"));
  });
  ASSERT_EQ(session->Finish(), 0);
  const std::string& out = session->Output();
  EXPECT_NE(out.find("]: error: unable to get terminal io state.\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("unable to set"), std::string::npos) << out;
  EXPECT_EQ(out.find("unable to restore"), std::string::npos) << out;
  std::string tail = std::string(kCursorShown) + kRedrawContinue +
                     "RESULT outcome=go-on interactive=0 echo=0 icanon=0\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
}

TEST_F(InteractivePrompt, HangupWhileWaitingCountsAsContinue) {
  auto session = Start({}, []() {
    signal(SIGHUP, SIG_IGN);
    InteractiveOutcome outcome = InteractiveStep("late");
    return outcome == InteractiveOutcome::kGoOn && !Settings::Instance().interactive ? 0 : 1;
  });
  ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
  session->Hangup();
  EXPECT_EQ(session->Finish(), 0);
}

// A plugin that only records whether it was started.
class ProbePlugin : public Plugin {
 public:
  ProbePlugin() : Plugin("probe") {}
  void Start() override { started = true; }
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {}
  bool started = false;
};

TEST_F(InteractivePrompt, ActivationOfASkippedPluginEndsWithoutMessagesOrEndTime) {
  std::string kmsg = root_ + "/dev/kmsg";
  for (const char* key : {"s", "e"}) {
    SCOPED_TRACE(std::string("key ") + key);
    std::ofstream(kmsg, std::ios::trunc).close();
    auto session = Start({}, []() {
      Settings::Instance().trace = true;
      ProbePlugin plugin;
      plugin.Activate(nullptr);
      printf("RESULT started=%d start-recorded=%d end-recorded=%d\n", plugin.started ? 1 : 0,
             plugin.ActivationStart().seconds != 0 ? 1 : 0,
             plugin.ActivationEnd().seconds != 0 ? 1 : 0);
      return 0;
    });
    ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
    session->Send(key);
    ASSERT_EQ(session->Finish(), 0);
    std::stringstream kernelLog;
    kernelLog << std::ifstream(kmsg).rdbuf();
    const std::string& out = session->Output();
    if (std::string(key) == "s") {
      EXPECT_NE(out.find("RESULT started=0 start-recorded=1 end-recorded=0\n"), std::string::npos)
          << out;
      EXPECT_EQ(out.find("execution of plugin"), std::string::npos) << out;
      EXPECT_EQ(kernelLog.str(), "");
    } else {
      EXPECT_NE(out.find("RESULT started=1 start-recorded=1 end-recorded=1\n"), std::string::npos)
          << out;
      // The prompt comes before the first activation message.
      size_t redraw = out.find(kRedrawExecute);
      size_t starting = out.find("]: info: starting execution of plugin: probe\n");
      ASSERT_NE(redraw, std::string::npos) << out;
      ASSERT_NE(starting, std::string::npos) << out;
      EXPECT_LT(redraw, starting);
      EXPECT_EQ(kernelLog.str(),
                "<6>bootcrank: Activating Bootcrank plugin probe.\n"
                "<6>bootcrank: Bootcrank plugin probe activated.\n");
    }
  }
}

}  // namespace
}  // namespace bootcrank
