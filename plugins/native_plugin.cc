#include "plugins/native_plugin.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <bootcrank/native_plugin.h>

#include <string>
#include <vector>

#include "graph/barrier.h"
#include "graph/graph.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/process.h"
#include "host/spawn.h"
#include "base/exception.h"

namespace bootcrank {
namespace {

// dlclose on every way out of the constructor.
class LibraryHandle {
 public:
  explicit LibraryHandle(void* handle) : handle_(handle) {}
  ~LibraryHandle() { dlclose(handle_); }
  LibraryHandle(const LibraryHandle&) = delete;
  LibraryHandle& operator=(const LibraryHandle&) = delete;
  void* get() const { return handle_; }

 private:
  void* handle_;
};

// The address of `symbol`; a symbol whose value is null is not an error.
const void* LookUp(const LibraryHandle& library, const char* symbol,
                   const std::string& path) {
  dlerror();
  void* address = dlsym(library.get(), symbol);
  if (const char* error = dlerror()) {
    throw Exception(std::string("Failed loading symbol: ") + symbol +
                    " Located at: " + path + " Reason: " + error);
  }
  return address;
}

std::vector<std::string> Names(bootcrank_name_list list) {
  std::vector<std::string> names;
  for (; list != nullptr && *list != nullptr; ++list) names.emplace_back(*list);
  return names;
}

std::string StatusText(HvkuserStatus status) {
  char buffer[512];
  HvkuserStatus_CodeToString(status, buffer, sizeof(buffer), 0);
  return buffer;
}

}  // namespace

NativePlugin::NativePlugin(Graph& graph, const std::string& name, const std::string& path)
    : Plugin(name), libraryPath(path) {
  // The loader opens the file with a blocking read: a FIFO or a terminal
  // named like a plugin would hold discovery for ever.
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    throw InvalidPluginException(path, "not a regular file");
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_GLOBAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    throw InvalidPluginException(path, error ? error : "cannot load object");
  }
  LibraryHandle library(handle);

  auto* operations = static_cast<const bootcrank_operations*>(
      LookUp(library, "operations", path));
  auto* metadata = static_cast<const bootcrank_metadata*>(
      LookUp(library, "metadata", path));

  hasHostProfileEntry =
      operations != nullptr && operations->apply_host_profile != nullptr;

  // A metadata symbol of value null declares no version at all.
  uint32_t version = metadata != nullptr ? metadata->version : 0;
  if (version < 1 || version > 4) {
    throw InvalidPluginException(path, "Unsupported API version");
  }
  apiVersion = static_cast<int32_t>(version);

  for (const std::string& barrier : Names(metadata->provides_barriers)) {
    AddDependent(graph.GetBarrier(barrier, true));
  }
  for (const std::string& barrier : Names(metadata->requires_barriers)) {
    AddDependency(graph.GetBarrier(barrier, true));
  }
  // The fields below exist only in tables of version 3 and later; shorter
  // tables may end before them.
  if (apiVersion >= 3) {
    for (const std::string& flag : Names(metadata->required_flags)) {
      requiredFlags.insert(flag);
    }
    for (const std::string& flag : Names(metadata->disabling_flags)) {
      disablingFlags.insert(flag);
    }
    runOnce = metadata->run_once != 0;
    if (metadata->plugin_version != nullptr) {
      pluginVersion = metadata->plugin_version;
    }
  }
}

void NativePlugin::Start() { RunNativeMethod("start", Name(), libraryPath); }

bool NativePlugin::UsesHostProfile() {
  return apiVersion >= 2 && hasHostProfileEntry;
}

void NativePlugin::ApplyHostProfile() {
  if (!UsesHostProfile()) {
    throw NotImplementedException("NativePlugin::ApplyHostProfile");
  }
  RunNativeMethod("apply_host_profile", Name(), libraryPath);
}

void NativePlugin::RunNativeMethod(const std::string& method,
                                   const std::string& name,
                                   const std::string& libraryPath) {
  const std::string program = host::HostPath(host::kNativeExecutorPath);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                             const_cast<char*>(libraryPath.c_str()),
                             const_cast<char*>(name.c_str()),
                             const_cast<char*>(method.c_str()), nullptr};
  char* envp[] = {nullptr};

  HvkuserCompat_SpawnFileActions actions;
  HvkuserStatus status = HvkuserCompat_SpawnFileActionsInit(&actions, 3);
  if (status != 0) {
    throw MethodFailedException(
        method, name, "failed to init file actions: " + StatusText(status));
  }
  for (int fd = 0; fd <= 2; ++fd) {
    status = HvkuserCompat_SpawnFileActionsAddDup2(&actions, fd, fd);
    if (status != 0) {
      HvkuserCompat_SpawnFileActionsDestroy(&actions);
      throw MethodFailedException(
          method, name, "failed to add dup2 file actions" + StatusText(status));
    }
  }
  pid_t pid = -1;
  status = HvkuserCompat_Spawn(&pid, program.c_str(), &actions, nullptr,
                               argv.data(), envp);
  HvkuserCompat_SpawnFileActionsDestroy(&actions);
  if (status != 0) {
    throw MethodFailedException(method, name,
                                "failed to spawn: " + StatusText(status));
  }

  int waitStatus = 0;
  if (host::WaitForChild(pid, &waitStatus) < 0) {
    throw MethodFailedException(method, name, "failed to read exit status");
  }
  if (WIFEXITED(waitStatus)) {
    if (WEXITSTATUS(waitStatus) == 0) return;
    throw MethodFailedException(
        method, name,
        "exited with code " + std::to_string(WEXITSTATUS(waitStatus)));
  }
  if (WIFSIGNALED(waitStatus)) {
    throw MethodFailedException(
        method, name,
        "exited with signal: " + std::to_string(WTERMSIG(waitStatus)));
  }
  throw MethodFailedException(method, name, "exited: <unknown failure>");
}

}  // namespace bootcrank
