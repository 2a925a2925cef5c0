// DebugPlugin: one debug injection entry as a node of the boot order. Its
// start runs the entry's shell command; a failing command is logged, never
// reported as a failed activation.
//
// Thread-safety: constructed on the main thread (the barrier operations take
// GraphLock themselves); Start may run on any worker thread.
#ifndef BOOTCRANK_PLUGINS_DEBUG_PLUGIN_H_
#define BOOTCRANK_PLUGINS_DEBUG_PLUGIN_H_

#include <string>
#include <vector>

#include "plugins/debug_config.h"
#include "plugins/plugin.h"

namespace bootcrank {

class DebugPlugin : public Plugin {
 public:
  // Interface version 1; depends on each barrier of `requiredBarriers` and
  // makes each of `providedBarriers` depend on it, creating them in `graph` as
  // needed.
  DebugPlugin(Graph& graph, const std::string& name,
              const std::vector<std::string>& requiredBarriers,
              const std::vector<std::string>& providedBarriers, const std::string& command);

  const char* Kind() const override { return "debug"; }
  // Runs the command through the system shell (host::RunShellCommand, with
  // the wait status system(3) would give, and default signal dispositions
  // in the shell); anything but exit status 0 logs "debug injection
  // '<name>' returned <wait status>" at level 125. Never throws.
  void Start() override;
  bool UsesHostProfile() override;   // false
  void ApplyHostProfile() override;  // throws NotImplementedException

  const std::string& Command() const { return command; }

 private:
  std::string command;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_DEBUG_PLUGIN_H_
