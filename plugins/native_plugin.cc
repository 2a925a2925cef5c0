#include "plugins/native_plugin.h"

#include <sys/wait.h>

#include <string>
#include <vector>

#include "graph/barrier.h"
#include "graph/graph.h"
#include "host/files.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/process.h"
#include "host/spawn.h"
#include "plugins/native_tables.h"
#include "base/exception.h"

namespace bootcrank {
namespace {

std::string StatusText(HvkuserStatus status) {
  char buffer[512];
  HvkuserStatus_CodeToString(status, buffer, sizeof(buffer), 0);
  return buffer;
}

}  // namespace

NativePlugin::NativePlugin(Graph& graph, const std::string& name, const std::string& path)
    : Plugin(name), libraryPath(path) {
  // The loader opens the file with a blocking read: a FIFO or a terminal
  // named like a plugin would hold the table reader until its time limit.
  if (host::IsSpecialFile(path)) {
    throw InvalidPluginException(path, "not a regular file");
  }
  NativeTables tables = ReadNativeTables(host::HostPath(host::kNativeExecutorPath), name, path);
  hasHostProfileEntry = tables.hasHostProfileEntry;
  apiVersion = static_cast<int32_t>(tables.version);
  for (const std::string& barrier : tables.providesBarriers) {
    AddDependent(graph.GetBarrier(barrier, true));
  }
  for (const std::string& barrier : tables.requiresBarriers) {
    AddDependency(graph.GetBarrier(barrier, true));
  }
  if (apiVersion >= 3) {
    requiredFlags.insert(tables.requiredFlags.begin(), tables.requiredFlags.end());
    disablingFlags.insert(tables.disablingFlags.begin(), tables.disablingFlags.end());
    runOnce = tables.runOnce;
    pluginVersion = tables.pluginVersion;
  }
}

void NativePlugin::Start() { RunNativeMethod("start", Name(), libraryPath); }

bool NativePlugin::UsesHostProfile() { return apiVersion >= 2 && hasHostProfileEntry; }

void NativePlugin::ApplyHostProfile() {
  if (!UsesHostProfile()) {
    throw NotImplementedException("NativePlugin::ApplyHostProfile");
  }
  RunNativeMethod("apply_host_profile", Name(), libraryPath);
}

void NativePlugin::RunNativeMethod(const std::string& method, const std::string& name,
                                   const std::string& libraryPath) {
  const std::string program = host::HostPath(host::kNativeExecutorPath);
  std::vector<char*> argv = {
      const_cast<char*>(program.c_str()), const_cast<char*>(libraryPath.c_str()),
      const_cast<char*>(name.c_str()), const_cast<char*>(method.c_str()), nullptr};
  char* envp[] = {nullptr};

  HvkuserCompat_SpawnFileActions actions;
  HvkuserStatus status = HvkuserCompat_SpawnFileActionsInit(&actions, 3);
  if (status != 0) {
    throw MethodFailedException(method, name, "failed to init file actions: " + StatusText(status));
  }
  for (int fd = 0; fd <= 2; ++fd) {
    status = HvkuserCompat_SpawnFileActionsAddDup2(&actions, fd, fd);
    if (status != 0) {
      HvkuserCompat_SpawnFileActionsDestroy(&actions);
      throw MethodFailedException(method, name,
                                  "failed to add dup2 file actions" + StatusText(status));
    }
  }
  pid_t pid = -1;
  status = HvkuserCompat_Spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp);
  HvkuserCompat_SpawnFileActionsDestroy(&actions);
  if (status != 0) {
    throw MethodFailedException(method, name, "failed to spawn: " + StatusText(status));
  }

  int waitStatus = 0;
  if (host::WaitForChild(pid, &waitStatus) < 0) {
    throw MethodFailedException(method, name, "failed to read exit status");
  }
  if (WIFEXITED(waitStatus)) {
    if (WEXITSTATUS(waitStatus) == 0) return;
    throw MethodFailedException(method, name,
                                "exited with code " + std::to_string(WEXITSTATUS(waitStatus)));
  }
  if (WIFSIGNALED(waitStatus)) {
    throw MethodFailedException(method, name,
                                "exited with signal: " + std::to_string(WTERMSIG(waitStatus)));
  }
  throw MethodFailedException(method, name, "exited: <unknown failure>");
}

}  // namespace bootcrank
