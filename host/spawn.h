// The host's process-spawning calls, on POSIX posix_spawn.
//
// A status is 0 for success or an errno value; HvkuserStatus_CodeToString
// gives its text. The spawned child starts with an empty signal mask and
// default signal dispositions (the program ignores SIGPIPE, and a worker
// thread may block signals; neither is the child's business), and with only
// the descriptors that the file-action set maps: every descriptor from 3 up
// is closed in the child, whether or not it is close-on-exec.
//
// Thread-safe: any thread may spawn; a file-action set belongs to one caller.
#ifndef BOOTCRANK_HOST_SPAWN_H_
#define BOOTCRANK_HOST_SPAWN_H_

#include <spawn.h>
#include <sys/types.h>

#include <cstddef>

using HvkuserStatus = int;

struct HvkuserCompat_SpawnFileActions {
  posix_spawn_file_actions_t actions;
  int highestTarget = -1;  // highest descriptor mapped into the child
};

// Initialises `fileActions` for `count` actions (a size hint).
HvkuserStatus HvkuserCompat_SpawnFileActionsInit(HvkuserCompat_SpawnFileActions* fileActions,
                                                 int count);

// Makes `fd` of the parent the child's `newFd`. When both are equal the
// descriptor is simply inherited, even when it is close-on-exec.
HvkuserStatus HvkuserCompat_SpawnFileActionsAddDup2(HvkuserCompat_SpawnFileActions* fileActions,
                                                    int fd, int newFd);

// Starts `path` with `argv` and `envp` (both null-terminated) and stores the
// child's process id in `pid`. `attributes` must be null (reserved). A
// program that cannot be executed fails here, with exec's error.
HvkuserStatus HvkuserCompat_Spawn(pid_t* pid, const char* path,
                                  HvkuserCompat_SpawnFileActions* fileActions,
                                  const void* attributes, char* const argv[], char* const envp[]);

void HvkuserCompat_SpawnFileActionsDestroy(HvkuserCompat_SpawnFileActions* fileActions);

// Writes the text of `status` into `buffer` (always NUL-terminated when
// `size` is not 0). `flags` must be 0.
void HvkuserStatus_CodeToString(HvkuserStatus status, char* buffer, size_t size, int flags);

#endif  // BOOTCRANK_HOST_SPAWN_H_
