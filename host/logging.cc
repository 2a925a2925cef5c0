#include "host/logging.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/host_control.h"
#include "host/host_paths.h"
#include "host/log.h"
#include "host/open_file.h"
#include "base/exception.h"

namespace bootcrank {

void InitLogging(const char* identity) {
  fflush(stdout);
  setvbuf(stdout, nullptr, _IONBF, 0);

  Dictionary* dict = Dictionary_Create();
  Dict_SetString(dict, identity, "log.syslogID");
  Dict_SetString(dict, "info", "log.syslogLevel");
  Log_SetProductInfo(ProductState_GetName(), ProductState_GetVersion(),
                     ProductState_GetBuildNumberString(), ProductState_GetCompilationOption());
  if (!Log_InitWithSyslogInt(identity, dict, 0)) {
    Dictionary_Free(dict);
    throw Exception("Failed to initialize logging to syslog.\n");
  }

  Dictionary_Clear(dict);
  Dict_SetString(dict, "info", "log.stdoutLevel");
  Dict_SetBool(dict, true, "log.useTimeStamps.stdio");
  Dict_SetBool(dict, true, "log.useMilliseconds.stdio");
  LogOutput* output = Log_NewStdioOutput(identity, dict, 0);
  if (output == nullptr) {
    Dictionary_Free(dict);
    throw Exception("Failed creating standard out logging interface.\n");
  }
  if (!Log_AddOutput(output)) {
    Dictionary_Free(dict);
    throw Exception("Failed adding standard out logging interface.\n");
  }
  Log_SetStderrLevel(-1);
  Dictionary_Free(dict);
}

void RedirectStdio(const char* path) {
  int null = open(host::kNullDevicePath, O_RDWR | O_CLOEXEC);
  if (null < 0) {
    Warning("Failed opening /dev/null");
  } else {
    if (dup2(null, STDIN_FILENO) < 0) Warning("Failed redirecting stdin to /dev/null");
    if (null != STDIN_FILENO) close(null);
  }

  // A FIFO without a reader at the log's place fails here (ENXIO) instead of
  // holding the process, and a link planted there (ELOOP) is not followed to
  // a file that someone else owns.
  int fd = host::OpenWithoutWaiting(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW);
  if (fd < 0) {
    Warning("Failed opening log file %s", path);
    return;
  }
  if (dup2(fd, STDOUT_FILENO) != STDOUT_FILENO) {
    Warning("Failed redirecting stdout to %s", path);
  }
  if (dup2(fd, STDERR_FILENO) != STDERR_FILENO) {
    Warning("Failed redirecting stderr to %s", path);
  }
  if (fd > STDERR_FILENO) close(fd);
}

void KernelLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* message = Str_SafeVasprintf(nullptr, format, args);
  va_end(args);
  if (message == nullptr) return;
  try {
    HvkCtl::Util::Sysinfo sysinfo(HKI_NODE_system_log);
    sysinfo.AddInput(message);
    sysinfo.Set();
  } catch (const Ravel::Lib::RavelException& e) {
    host::SyslogText(LOG_ERR, std::string("Exception occurred while logging msg: ") + e.what());
    host::SyslogText(LOG_ERR, message);
  } catch (...) {
    host::SyslogText(LOG_ERR, "Unexpected exception while logging msg");
    host::SyslogText(LOG_ERR, message);
  }
  free(message);
}

}  // namespace bootcrank
