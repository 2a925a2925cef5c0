#include "runcontrol/spawn_and_wait.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/log.h"
#include "host/process.h"
#include "host/logging.h"

namespace bootcrank {

bool SpawnAndWait(char* const argv[], char* const envp[]) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    host::CloseDescriptorsFrom(3);
    RedirectStdio("/dev/null");
    execve(argv[0], argv, envp);
    Log_Level(kLogError, "execve(%s) failure: %s\n", argv[0], strerror(errno));
    _exit(1);
  }
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bootcrank
