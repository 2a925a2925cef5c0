// The console prompt on a real pseudo-terminal: a forked child runs the
// interactive step on the slave side while the test types on the master.
// Execute, continue, troubleshoot and end of input are run end to end.

#include "plugins/interactive.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>

#include "base/settings.h"
#include "support/pty_session.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

// The prompt for `name`, then the menu redrawn with only choice `lit` in colour.
std::string Asked(const std::string& name, int lit) {
  const char* names[] = {"(c)ontinue", "(e)xecute", "(t)roubleshoot", "(s)kip"};
  const char* colours[] = {"35", "32", "33", "31"};
  std::string all, chosen;
  for (int i = 0; i < 4; ++i) {
    std::string tab = i > 0 ? "\t" : "";
    all += tab + "\033[" + colours[i] + "m" + names[i] + "\033[0m";
    chosen += tab + "\033[" + (lit == i ? colours[i] : "37") + "m" + names[i] + "\033[0m";
  }
  return "current plugin: \033[36m" + name + "\n" + all + "\033[?25l\033[?25h\r" + chosen + "\n";
}

bool KeysAreRaw(const struct termios& t) { return (t.c_lflag & (ICANON | ECHO)) == 0; }

// Plugins on the requires list pass unasked until it is empty; then other
// keys are ignored, upper case counts, and echo and canonical input are back
// after every step; a skipped plugin is logged.
TEST(InteractivePrompt, RequiresListThenKeysAndTerminalRestored) {
  testing::ScratchHostRoot root;  // keeps the console switches off the real console
  testing::PtySession session([] {
    Settings::Instance().interactive = true;
    Settings::Instance().interactiveRequires = {"a", "b", "a"};
    for (const char* name : {"a", "x", "b", "y", "z"}) {
      bool skip = InteractiveStep(name) == InteractiveOutcome::kSkip;
      struct termios t;
      bool cooked =
          tcgetattr(STDIN_FILENO, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
      printf("%s:%zu:%s%s\n", name, Settings::Instance().interactiveRequires.size(),
             skip ? "skip" : "go", cooked ? "" : " raw");
      fflush(stdout);
    }
    return 0;
  });
  ASSERT_TRUE(session.WaitForSettings(KeysAreRaw));
  session.Send("xq\r\n E");
  ASSERT_TRUE(session.WaitFor("y:0:")) << session.Output();
  ASSERT_TRUE(session.WaitForSettings(KeysAreRaw));
  session.Send("s");
  ASSERT_EQ(session.Finish(), 0);
  std::string out = session.Output();
  std::regex skipped(
      R"(\d{4}-[-\dT:.]+Z bootcrank\[\d+\]: info: skipping plugin z \(interactive mode request\)\n)");
  EXPECT_TRUE(std::regex_search(out, skipped)) << out;
  EXPECT_EQ(std::regex_replace(out, skipped, ""),
            "a:1:go\nx:1:go\nb:0:go\n" + Asked("y", 1) + "y:0:go\n" + Asked("z", 3) + "z:0:skip\n");
}

}  // namespace
}  // namespace bootcrank
