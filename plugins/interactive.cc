#include "plugins/interactive.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>
#include <vector>

#include "host/log.h"
#include "host/terminal.h"
#include "base/settings.h"

namespace bootcrank {

namespace {

// Virtual terminals: the operator's console, and the one the boot goes on
// showing once nobody is asked anymore.
constexpr int kInteractiveConsole = 1;
constexpr int kBootConsole = 11;

// Foreground colour numbers; kReset writes the reset sequence instead.
enum Colour { kRed = 1, kGreen = 2, kYellow = 3, kMagenta = 5, kCyan = 6, kWhite = 7, kReset = 8 };

void SetColour(std::ostream& out, int colour) {
  if (colour == kReset) {
    out << "\033[0m";
  } else {
    out << "\033[" << 30 + colour << "m";
  }
}

struct MenuEntry {
  char answer;
  Colour colour;
  const char* text;
};

constexpr MenuEntry kMenu[] = {
    {'c', kMagenta, "(c)ontinue"},
    {'e', kGreen, "(e)xecute"},
    {'t', kYellow, "(t)roubleshoot"},
    {'s', kRed, "(s)kip"},
};

// The four entries; with `answered` set, that entry keeps its colour and the
// others are white.
void WriteMenu(std::ostream& out, char answered) {
  const char* separator = "";
  for (const MenuEntry& entry : kMenu) {
    out << separator;
    SetColour(out, answered == 0 || answered == entry.answer ? entry.colour : kWhite);
    out << entry.text;
    SetColour(out, kReset);
    separator = "\t";
  }
}

void RedrawMenu(char answer) {
  std::cout << "\r";
  WriteMenu(std::cout, answer);
  std::cout << "\n" << std::flush;
}

// The first of c, e, s, t typed (in either case); end of input counts as c.
char ReadAnswer(host::KeyInput& input) {
  for (;;) {
    int key = input.ReadKey();
    if (key < 0) return 'c';
    char answer = static_cast<char>(std::tolower(key));
    if (answer == 'c' || answer == 'e' || answer == 's' || answer == 't') return answer;
  }
}

char Prompt(const std::string& pluginName) {
  host::SwitchConsole(kInteractiveConsole);
  std::cout << "current plugin: ";
  SetColour(std::cout, kCyan);
  std::cout << pluginName << "\n" << std::flush;
  WriteMenu(std::cout, 0);
  std::cout << std::flush << "\033[?25l" << std::flush;

  char answer;
  {
    host::KeyInput input(STDIN_FILENO);
    answer = ReadAnswer(input);
    input.Restore();
  }
  std::cout << "\033[?25h" << std::flush;
  return answer;
}

}  // namespace

InteractiveOutcome InteractiveStep(const std::string& pluginName) {
  Settings& settings = Settings::Instance();
  std::vector<std::string>& pending = settings.interactiveRequires;
  if (!pending.empty()) {
    pending.erase(std::remove(pending.begin(), pending.end(), pluginName), pending.end());
    // The plugin that completes the list is not asked about itself.
    if (pending.empty()) host::SwitchConsole(kInteractiveConsole);
    return InteractiveOutcome::kGoOn;
  }

  char answer = Prompt(pluginName);
  switch (answer) {
    case 'c':
      RedrawMenu('c');
      settings.interactive = false;
      host::SwitchConsole(kBootConsole);
      break;
    case 's':
      Log_Level(kLogInfo, "skipping plugin %s (interactive mode request)\n", pluginName.c_str());
      RedrawMenu('s');
      return InteractiveOutcome::kSkip;
    case 't':
      RedrawMenu('t');
      // The line is erased only after a shell that ran.
      if (host::RunTroubleshootingShell()) std::cout << "\033[2K" << std::flush;
      break;
    default:  // 'e'
      RedrawMenu('e');
      break;
  }
  return InteractiveOutcome::kGoOn;
}

}  // namespace bootcrank
