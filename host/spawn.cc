#include "host/spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>

#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/log.h"
#include "host/open_file.h"
#include "host/process.h"
#include "host/unique_fd.h"

HvkuserStatus HvkuserCompat_SpawnFileActionsInit(HvkuserCompat_SpawnFileActions* fileActions,
                                                 int /*count*/) {
  fileActions->highestTarget = -1;
  return posix_spawn_file_actions_init(&fileActions->actions);
}

HvkuserStatus HvkuserCompat_SpawnFileActionsAddDup2(HvkuserCompat_SpawnFileActions* fileActions,
                                                    int fd, int newFd) {
  int status = posix_spawn_file_actions_adddup2(&fileActions->actions, fd, newFd);
  if (status == 0 && newFd > fileActions->highestTarget) {
    fileActions->highestTarget = newFd;
  }
  return status;
}

HvkuserStatus HvkuserCompat_Spawn(pid_t* pid, const char* path,
                                  HvkuserCompat_SpawnFileActions* fileActions,
                                  const void* attributes, char* const argv[], char* const envp[]) {
  if (attributes != nullptr) return EINVAL;
  // Descriptors above the mapped ones are closed in the child, so that one
  // that some library opened without close-on-exec does not leak into it.
  int keep = fileActions->highestTarget < 2 ? 2 : fileActions->highestTarget;
  int status = posix_spawn_file_actions_addclosefrom_np(&fileActions->actions, keep + 1);
  if (status != 0) return status;

  posix_spawnattr_t attr;
  status = posix_spawnattr_init(&attr);
  if (status != 0) return status;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  // SIGKILL and SIGSTOP cannot be set; asking the child to would only fail
  // in it, and that child shares errno with this thread until it execs.
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  // sigfillset leaves out the C library's internal signals (SIGRTMIN's
  // lowest numbers), and posix_spawn then sets them to be ignored in the
  // child, where they stay ignored through exec. Their bits are set directly.
  constexpr int kBits = 8 * sizeof(unsigned long);
  for (int signal = __SIGRTMIN; signal < SIGRTMIN; ++signal) {
    all.__val[(signal - 1) / kBits] |= 1UL << ((signal - 1) % kBits);
  }
  status = posix_spawnattr_setsigmask(&attr, &none);
  if (status == 0) status = posix_spawnattr_setsigdefault(&attr, &all);
  if (status == 0) {
    status = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (status == 0) {
    // The status is the whole result: keep the caller's errno, which the
    // child's set-up may overwrite before it execs.
    int callerErrno = errno;
    status = posix_spawn(pid, path, &fileActions->actions, &attr, argv, envp);
    errno = callerErrno;
  }
  posix_spawnattr_destroy(&attr);
  return status;
}

void HvkuserCompat_SpawnFileActionsDestroy(HvkuserCompat_SpawnFileActions* fileActions) {
  posix_spawn_file_actions_destroy(&fileActions->actions);
}

void HvkuserStatus_CodeToString(HvkuserStatus status, char* buffer, size_t size, int /*flags*/) {
  if (size == 0) return;
  snprintf(buffer, size, "%s", bootcrank::host::ErrorText(status).c_str());
}

namespace bootcrank {
namespace host {

namespace {

// The caller's descriptors 0 to 2 as they are: -1 for one that is closed.
void OwnStandardStreams(int stdio[3]) {
  for (int fd = 0; fd <= 2; ++fd) stdio[fd] = fcntl(fd, F_GETFD) >= 0 ? fd : -1;
}

}  // namespace

namespace {

// Starts `path` with `stdio` as its descriptors 0 to 2 and, when `extra` is
// not negative, `extra` as its descriptor 3.
int SpawnWithDescriptors(const char* path, char* const argv[], char* const envp[],
                         const int stdio[3], int extra, pid_t* pid) {
  HvkuserCompat_SpawnFileActions actions;
  int status = HvkuserCompat_SpawnFileActionsInit(&actions, extra >= 0 ? 4 : 3);
  if (status != 0) return status;
  for (int fd = 0; status == 0 && fd <= 2; ++fd) {
    status = stdio[fd] >= 0 ? HvkuserCompat_SpawnFileActionsAddDup2(&actions, stdio[fd], fd)
                            : posix_spawn_file_actions_addclose(&actions.actions, fd);
  }
  if (status == 0 && extra >= 0) status = HvkuserCompat_SpawnFileActionsAddDup2(&actions, extra, 3);
  if (status == 0) status = HvkuserCompat_Spawn(pid, path, &actions, nullptr, argv, envp);
  HvkuserCompat_SpawnFileActionsDestroy(&actions);
  return status;
}

}  // namespace

int Spawn(const char* path, char* const argv[], char* const envp[], const int stdio[3],
          pid_t* pid) {
  return SpawnWithDescriptors(path, argv, envp, stdio, -1, pid);
}

int SpawnWithReport(const char* path, char* const argv[], char* const envp[], const int stdio[3],
                    pid_t* pid, UniqueFd* report) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return errno;
  UniqueFd reading(ends[0]), writing(ends[1]);
  int status = SpawnWithDescriptors(path, argv, envp, stdio, writing.Get(), pid);
  if (status == 0) *report = std::move(reading);
  return status;
}

int RunShellCommand(const std::string& command) {
  char name[] = "sh", option[] = "-c";
  char* argv[] = {name, option, const_cast<char*>(command.c_str()), nullptr};
  int stdio[3];
  OwnStandardStreams(stdio);
  pid_t pid = -1;
  if (Spawn(kShellPath, argv, environ, stdio, &pid) != 0) return 127 << 8;
  int status = 0;
  return WaitForChild(pid, &status) == pid ? status : -1;
}

bool ReadShellCommandOutput(const std::string& command, std::string* output) {
  output->clear();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  UniqueFd reading(ends[0]), writing(ends[1]);
  char name[] = "sh", option[] = "-c";
  char* argv[] = {name, option, const_cast<char*>(command.c_str()), nullptr};
  int stdio[3];
  OwnStandardStreams(stdio);
  stdio[1] = writing.Get();
  pid_t pid = -1;
  if (Spawn(kShellPath, argv, environ, stdio, &pid) != 0) return false;
  writing.Reset();
  char buffer[4096];
  for (;;) {
    ssize_t n = read(reading.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output->append(buffer, static_cast<size_t>(n));
  }
  WaitForChild(pid, nullptr);
  return true;
}

}  // namespace host

bool SpawnAndWait(char* const argv[], char* const envp[]) {
  host::UniqueFd null(host::OpenWithoutWaiting(host::kNullDevicePath, O_RDWR));
  const int stdio[3] = {null.Get(), null.Get(), null.Get()};
  pid_t pid = -1;
  int status = host::Spawn(argv[0], argv, envp, stdio, &pid);
  if (status != 0) {
    // The message of a child that could not exec, whose standard output is
    // /dev/null: it reaches only the system log, never the run's output.
    host::SyslogText(LOG_ERR,
                     "execve(" + std::string(argv[0]) + ") failure: " + host::ErrorText(status));
    return false;
  }
  int waitStatus = 0;
  return host::WaitForChild(pid, &waitStatus) == pid && WIFEXITED(waitStatus) &&
         WEXITSTATUS(waitStatus) == 0;
}

}  // namespace bootcrank
