// Running a helper program to completion.
#ifndef BOOTCRANK_RUNCONTROL_SPAWN_AND_WAIT_H_
#define BOOTCRANK_RUNCONTROL_SPAWN_AND_WAIT_H_

namespace bootcrank {

// Forks; the child closes every descriptor but 0 to 2, points those three at
// /dev/null and execs argv[0] with `argv` and `envp`. Returns true only when
// the child exited normally with status 0; false when the fork failed.
bool SpawnAndWait(char* const argv[], char* const envp[]);

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_SPAWN_AND_WAIT_H_
