// NativePlugin: a plugin built from a shared object that exports the
// "metadata" and "operations" tables of <bootcrank/native_plugin.h>.
//
// The constructor has the tables read in a child process (native_tables.h)
// and links the plugin to its barriers; the object is never loaded into this
// process, so neither its constructors nor its methods run here. Each method
// runs in the separate program nativeExecutor, so that a crashing plugin ends
// only that child.
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
  // Throws InvalidPluginException(path, ...) when the object is not a
  // regular file, cannot be loaded or declares an unsupported version, and
  // Exception("Failed loading symbol: ...") when a table is missing, as
  // ReadNativeTables does; also when reading the tables in the child fails
  // (it crashed, exited, hung or answered garbage).
  NativePlugin(Graph& graph, const std::string& name, const std::string& path);

  const char* Kind() const override { return "native"; }
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
