#include "host/terminal.h"

#include <fcntl.h>
#include <linux/vt.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/process.h"

namespace bootcrank {
namespace host {

void SwitchConsole(int number) {
  std::string console = HostPath(kConsolePath);
  int fd = open(console.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  if (ioctl(fd, VT_ACTIVATE, number) != 0) ioctl(fd, VT_WAITACTIVE, number);
  close(fd);
}

KeyInput::KeyInput(int fd) : fd_(fd) {
  if (tcgetattr(fd_, &saved_) != 0) {
    Log_Level(kLogError, "unable to get terminal io state.\n");
    return;
  }
  changed_ = true;
  struct termios raw = saved_;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  // One key at a time, however the terminal was set up before.
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(fd_, TCSANOW, &raw) != 0) {
    Log_Level(kLogError, "unable to set terminal io state.\n");
  }
}

KeyInput::~KeyInput() { Restore(); }

int KeyInput::ReadKey() {
  unsigned char key;
  for (;;) {
    ssize_t n = read(fd_, &key, 1);
    if (n == 1) return key;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

void KeyInput::Restore() {
  if (!changed_) return;
  changed_ = false;
  struct termios cooked = saved_;
  cooked.c_lflag |= ICANON | ECHO;
  if (tcsetattr(fd_, TCSANOW, &cooked) != 0) {
    Log_Level(kLogError, "unable to restore terminal io state.\n");
  }
}

bool RunTroubleshootingShell() {
  pid_t pid = fork();
  if (pid < 0) {
    Log_Level(kLogError, "failed to fork - unable to launch troubleshooting shell: %s\n",
              ErrorText(errno).c_str());
    return false;
  }
  if (pid == 0) {
    RestoreDefaultSignals();
    if (setsid() < 0) {
      Log_Level(kLogError, "unable to create new session: %s\n", ErrorText(errno).c_str());
      _exit(1);
    }
    CloseDescriptorsFrom(3);
    // Take the terminal over even from a session that still owns it.
    ioctl(STDIN_FILENO, TIOCSCTTY, 1);
    execl(kShellPath, kShellPath, static_cast<char*>(nullptr));
    Log_Level(kLogError, "unable to exec shell: %s\n", ErrorText(errno).c_str());
    _exit(1);
  }
  WaitForChild(pid, nullptr);
  return true;
}

}  // namespace host
}  // namespace bootcrank
