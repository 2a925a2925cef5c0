#include "host/spawn.h"

#include <errno.h>
#include <signal.h>

#include <cstdio>
#include <cstring>

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
  // strerror_r's GNU form may return a static string instead of filling in.
  char scratch[256];
  const char* text = strerror_r(status, scratch, sizeof(scratch));
  snprintf(buffer, size, "%s", text);
}
