// The console prompt on a real pseudo-terminal: a forked child runs the
// interactive step on the slave side while the test types on the master.

#include "graph/interactive.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "plugins/plugin.h"
#include "runcontrol/settings.h"
#include "support/pty_session.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using namespace testing;  // NOLINT: the fixtures

// The menu with every choice in its colour (lit < 0) or only choice `lit`.
std::string Menu(int lit) {
  const char* names[] = {"(c)ontinue", "(e)xecute", "(t)roubleshoot", "(s)kip"};
  const char* colours[] = {"35", "32", "33", "31"};
  std::string menu;
  for (int i = 0; i < 4; ++i) {
    menu += std::string(i > 0 ? "\t" : "") + "\033[" + (lit < 0 || lit == i ? colours[i] : "37") +
            "m" + names[i] + "\033[0m";
  }
  return menu;
}
std::string Prompt(const std::string& name) {
  return "current plugin: \033[36m" + name + "\n" + Menu(-1) + "\033[?25l";
}
std::string Redraw(int lit) { return "\r" + Menu(lit) + "\n"; }

bool KeysAreRaw(const struct termios& t) { return (t.c_lflag & (ICANON | ECHO)) == 0; }

std::string Result(const std::string& out) { return out.substr(std::min(out.rfind("RESULT "), out.size())); }

// A plugin activation in the child: whether the plugin ran, whether start
// and end times were recorded, and the state the prompt left behind.
int Activate() {
  RunRecord record;
  RecordingPlugin probe("probe", &record);
  probe.Activate(nullptr);
  struct termios t;
  bool known = tcgetattr(STDIN_FILENO, &t) == 0;
  printf("RESULT started=%d times=%d%d interactive=%d echo=%d icanon=%d\n", probe.started.runs.load(),
         probe.ActivationStart().seconds != 0, probe.ActivationEnd().seconds != 0,
         Settings::Instance().interactive, known && (t.c_lflag & ECHO),
         known && (t.c_lflag & ICANON));
  return 0;
}

struct InteractivePrompt : ::testing::Test {
  // `body` in a child on a new terminal, in an interactive run.
  std::unique_ptr<PtySession> Start(const std::vector<std::string>& pending,
                                    const std::function<int()>& body) {
    return std::make_unique<PtySession>([pending, body]() {
      Settings::Instance().interactive = true;
      Settings::Instance().interactiveRequires = pending;
      return body();
    });
  }
  ScratchHostRoot root;  // keeps the console switches off the real console
};

// Echo and canonical input are off while waiting and restored afterwards;
// other keys are ignored, upper case counts, and end of input (no keys: not
// a terminal) counts as c. A skipped plugin neither starts nor gets an end
// time or activation messages.
TEST_F(InteractivePrompt, KeysRedrawTheMenuAndAct) {
  struct Case {
    const char* keys;
    int lit;
    const char* result;
  } cases[] = {{"xq\r\n E", 1, "started=1 times=11 interactive=1 echo=1 icanon=1"},
               {"c", 0, "started=1 times=11 interactive=0 echo=1 icanon=1"},
               {"S", 3, "started=0 times=10 interactive=1 echo=1 icanon=1"},
               {nullptr, 0, "started=1 times=11 interactive=0 echo=0 icanon=0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys ? c.keys : "end of input");
    std::ofstream(root.path + "/dev/kmsg", std::ios::trunc).close();
    bool eof = c.keys == nullptr;
    auto session = Start({}, [eof] {
      if (eof) dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
      return Activate();
    });
    if (!eof) {
      ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
      session->Send(c.keys);
    }
    ASSERT_EQ(session->Finish(), 0);
    const std::string& out = session->Output();
    EXPECT_EQ(out.rfind(Prompt("probe"), 0), 0u) << out;
    EXPECT_NE(out.find(Redraw(c.lit)), std::string::npos) << out;
    EXPECT_EQ(Result(out), std::string("RESULT ") + c.result + "\n") << out;
    bool skipped = c.lit == 3;
    EXPECT_EQ(skipped, out.find("skipping plugin probe (interactive mode request)") != std::string::npos);
    EXPECT_EQ(skipped, out.find("executing start plugin: probe") == std::string::npos) << out;
    EXPECT_EQ(skipped, root.KernelLog().empty());
  }
}

TEST_F(InteractivePrompt, TroubleshootRunsAShellOnTheTerminalThenExecutes) {
  auto session = Start({}, Activate);
  ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
  session->Send("t");
  ASSERT_TRUE(session->WaitFor(Redraw(2))) << session->Output();
  // Computed, so that the terminal's echo of the command cannot match.
  session->Send("echo shell-$((6*7))-ran\nexit\n");
  ASSERT_EQ(session->Finish(), 0);
  const std::string& out = session->Output();
  size_t ran = out.find("shell-42-ran");
  ASSERT_NE(ran, std::string::npos) << out;
  EXPECT_NE(out.find("\033[2K", ran), std::string::npos) << out;  // the shell's line erased
  EXPECT_EQ(Result(out), "RESULT started=1 times=11 interactive=1 echo=1 icanon=1\n") << out;
}

TEST_F(InteractivePrompt, RequiresListPostponesTheFirstQuestion) {
  auto session = Start({"a", "b", "a"}, [] {
    for (const char* name : {"a", "x", "b", "y"}) {
      if (InteractiveStep(name) != InteractiveOutcome::kGoOn) return 1;
      printf("%s:%zu\n", name, Settings::Instance().interactiveRequires.size());
      fflush(stdout);
    }
    return 0;
  });
  ASSERT_TRUE(session->WaitForSettings(KeysAreRaw));
  session->Send("e");
  ASSERT_EQ(session->Finish(), 0);
  EXPECT_EQ(session->Output(), "a:1\nx:1\nb:0\n" + Prompt("y") + "\033[?25h" + Redraw(1) + "y:0\n");
}

}  // namespace
}  // namespace bootcrank
