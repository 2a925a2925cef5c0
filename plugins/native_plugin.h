// NativePlugin: a plugin built from a shared object that exports the
// "metadata" and "operations" tables of <bootcrank/native_plugin.h>.
//
// The constructor loads the object only to read the tables, links the plugin
// to its barriers and unloads it again; the plugin's code never runs in this
// process. Each method runs in the separate program nativeExecutor, so that a
// crashing plugin ends only that child.
//
// Thread-safety: constructed on the main thread (the barrier operations take
// GraphLock themselves); nothing changes afterwards, so Start and
// ApplyHostProfile may run on any worker thread, several plugins at once.
#ifndef BOOTCRANK_PLUGINS_NATIVE_PLUGIN_H_
#define BOOTCRANK_PLUGINS_NATIVE_PLUGIN_H_

#include <string>

#include "plugins/plugin.h"

namespace bootcrank {

class NativePlugin : public Plugin {
 public:
  // Throws InvalidPluginException(path, ...) when the object cannot be
  // loaded or declares an unsupported version, and Exception("Failed loading
  // symbol: ...") when a table is missing. The object is closed either way.
  NativePlugin(Graph& graph, const std::string& name, const std::string& path);

  void Start() override;  // method "start"
  // apiVersion >= 2 and the operations table has an apply-host-profile slot.
  bool UsesHostProfile() override;
  // Method "apply_host_profile" when UsesHostProfile, else throws
  // NotImplementedException("NativePlugin::ApplyHostProfile").
  void ApplyHostProfile() override;

  // Runs `method` of the object at `libraryPath` in the native executor
  // program (host path "/usr/lib/quarro/bootcrank/nativeExecutor"), with an
  // empty environment and this process's descriptors 0 to 2, and waits for
  // it. Returns when it exited with 0; throws MethodFailedException(method,
  // name, reason) otherwise.
  static void RunNativeMethod(const std::string& method, const std::string& name,
                              const std::string& libraryPath);

  bool HasHostProfileEntry() const { return hasHostProfileEntry; }
  const std::string& LibraryPath() const { return libraryPath; }

 private:
  bool hasHostProfileEntry = false;
  std::string libraryPath;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_NATIVE_PLUGIN_H_
