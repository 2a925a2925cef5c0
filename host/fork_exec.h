// ForkExec: the host's process-creation call, on Linux.
//
// Starts `path` as a new child process of the caller with the argument and
// environment vectors, the working directory of `directory`, and
// `descriptors[0..count-1]` as its descriptors 0..count-1. Every other
// descriptor of the caller is closed (or close-on-exec) in the child, its
// signal mask is empty and every signal has its default action. A program
// that cannot be executed is reported by the call itself: the child's errno
// comes back through a close-on-exec pipe, and that child is reaped here.
//
// Thread-safe: any thread may call it; between fork and exec the child uses
// async-signal-safe calls only.
#ifndef BOOTCRANK_HOST_FORK_EXEC_H_
#define BOOTCRANK_HOST_FORK_EXEC_H_

#include <cstdint>

namespace bootcrank {
namespace host {

// The options block of a ForkExec request; packed, 21 bytes, host byte order.
struct __attribute__((packed)) ForkExecOptions {
  uint32_t descriptorCount;  // entries of the descriptor array (at most 64)
  uint32_t userId;           // set in the child when it differs from ours
  uint32_t groupId;          // set in the child when it differs from ours
  uint8_t flags;             // always 0
  int32_t* processId;        // receives the child's pid on success
};
static_assert(sizeof(ForkExecOptions) == 21, "ForkExecOptions must be packed");

// Returns 0 when the program runs in the new child (its pid stored through
// options->processId), else an errno value: from pipe/fork here, or from
// fchdir, dup2, setgid, setuid or execve in the child. A negative entry of
// `descriptors` leaves that descriptor closed in the child.
int ForkExec(const char* path, char* const argv[], char* const envp[], int directory,
             const int32_t* descriptors, const ForkExecOptions* options);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_FORK_EXEC_H_
