// The console and terminal calls of interactive runs: virtual-terminal
// switches, single-key input on standard input, and the troubleshooting
// shell.
//
// Thread-safety: these operate on process-wide descriptors (the console,
// standard input) and are meant for the one worker of an interactive run.
#ifndef BOOTCRANK_HOST_TERMINAL_H_
#define BOOTCRANK_HOST_TERMINAL_H_

#include <termios.h>

namespace bootcrank {
namespace host {

// Brings virtual terminal `number` to the front: opens "/dev/console" (below
// the host root) and asks for VT_ACTIVATE, and only when that is refused for
// VT_WAITACTIVE. Does nothing when the console cannot be opened.
void SwitchConsole(int number);

// Single-key input on a terminal descriptor: canonical input and echo off
// while the object is in raw state, back on afterwards.
//
// When the terminal state cannot be read, the terminal is left as it is
// (nothing is derived from an unread state); every failure is logged at
// level 110 with the texts of the prompt ("unable to get/set/restore terminal
// io state.").
class KeyInput {
 public:
  // Reads the state of `fd` and switches canonical input and echo off.
  explicit KeyInput(int fd);
  // Restores, unless Restore was called already.
  ~KeyInput();
  KeyInput(const KeyInput&) = delete;
  KeyInput& operator=(const KeyInput&) = delete;

  // One byte from the descriptor, retried while interrupted; -1 at end of
  // input or on a read error (both mean no more keys will come).
  int ReadKey();

  // Switches canonical input and echo back on (once; later calls do nothing).
  void Restore();

 private:
  int fd_;
  bool changed_ = false;  // the state was read and a change was attempted
  struct termios saved_;
};

// Runs "/bin/sh" on the terminal of standard input, as leader of a new
// session that takes the terminal over, with only the standard streams,
// default signal dispositions and an empty signal mask, and waits for it to
// end. Failures (fork, and in the child setsid or exec) are logged; the
// shell's exit status is not looked at. False when no child could be forked.
bool RunTroubleshootingShell();

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_TERMINAL_H_
