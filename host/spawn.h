// Starting programs: the host's process-spawning calls on POSIX
// posix_spawn, and the one way the program starts a child on top of them
// (helper programs, the shell of debug commands and the upgrade script, the
// init-script listing, the executor and native executor programs). Only
// ForkExec (init scripts, host/fork_exec.h) and the troubleshooting shell
// (host/terminal.h), which need a different user, directory or terminal, fork
// by themselves, and reset their children the same way.
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
#include <string>

#include "host/unique_fd.h"

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

namespace bootcrank {
namespace host {

// Starts `path` with `argv` and `envp` (both null-terminated) and stores the
// child's pid. The child's descriptors 0, 1 and 2 are the caller's
// `stdio[0..2]` (-1: closed in the child); each must be its own target or
// above 2. Returns 0, or the error (exec's error when the program cannot be
// run).
int Spawn(const char* path, char* const argv[], char* const envp[], const int stdio[3], pid_t* pid);

// Runs `command` through "/bin/sh -c" with the process's environment and
// standard streams and waits for it. Returns the wait status as system(3)
// does: exit status 127 when the shell cannot be started, -1 when the wait
// fails. Unlike system(3) it leaves this process's SIGINT and SIGQUIT alone.
int RunShellCommand(const std::string& command);

// Spawn, with the write end of a new pipe as the child's descriptor 3; on
// success `report` holds the read end, which reads end of file once every
// copy of the write end (the child's, and its children's) is closed.
int SpawnWithReport(const char* path, char* const argv[], char* const envp[], const int stdio[3],
                    pid_t* pid, UniqueFd* report);

// Like popen(command, "r") read to its end and pclose(): the shell's
// standard output goes to `output`, its exit status is not looked at. False,
// with nothing read, when the shell cannot be started.
bool ReadShellCommandOutput(const std::string& command, std::string* output);

}  // namespace host

// Runs the program argv[0] with `argv` and `envp`, with standard input,
// output and error on /dev/null and no other descriptor, and waits for it.
// True only when it exited normally with status 0. A program that cannot be
// run is logged ("execve(<program>) failure: <error>", level 110).
bool SpawnAndWait(char* const argv[], char* const envp[]);

}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_SPAWN_H_
