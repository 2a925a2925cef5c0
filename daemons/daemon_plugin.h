// Daemon plugins: plugins that start and stop one host daemon by running a
// command line, normally its init script followed by "start" or "stop".
//
// The start run activates them (Activate -> plugin activation -> Start), the
// stop run deactivates them (Deactivate -> Stop). Commands run through
// ExecuteWithTimeout, which decides from the settings whether and how long to
// wait for them.
//
// Thread-safety: `operations` is written only by constructors, on the main
// thread under GraphLock during discovery; Start, Stop, Activate and
// Deactivate run on executor workers without GraphLock and only read it.
#ifndef BOOTCRANK_DAEMONS_DAEMON_PLUGIN_H_
#define BOOTCRANK_DAEMONS_DAEMON_PLUGIN_H_

#include <cstdint>
#include <map>
#include <string>

#include "plugins/plugin.h"

namespace bootcrank {

class DaemonPlugin : public Plugin {
 public:
  // Codes of the operations whose command lines a daemon plugin stores.
  enum Operation : int32_t {
    kStartOperation = 2,
    kStopOperation = 4,
  };

  DaemonPlugin(const std::string& name, uint32_t priority, uint32_t executionClass);
  ~DaemonPlugin() override;

  // Boot screen progress "Starting service <name>", then plugin activation
  // (which calls Start), then one progress step.
  void Activate(Executor* executor) override;
  // Stop, with kernel log messages around it. A standard exception from Stop
  // is reported to the kernel log and swallowed, so the stop run goes on.
  void Deactivate(Executor* executor) override;

  // Runs the start command; failures are logged and rethrown as
  // MethodFailedException for "start".
  const char* Kind() const override { return "daemon"; }
  void Start() override;
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override;  // NotImplementedException
  // Runs the stop command; failures are logged and rethrown unchanged.
  virtual void Stop();
  virtual void Restart();   // NotImplementedException
  virtual void SSLReset();  // NotImplementedException

  // The command line stored for `operation`; throws Exception
  // "<name> Daemon operations are not initialized" when there is none.
  const std::string& Command(int32_t operation) const;
  uint32_t Priority() const { return priority; }

 protected:
  uint32_t priority;
  std::map<int32_t, std::string> operations;  // code -> command line
};

// The daemon of one classic init script: execution class 3, commands
// "<script> start" and "<script> stop", linked into the priority chain so
// that it starts after every daemon of a lower priority.
class LegacyDaemonPlugin : public DaemonPlugin {
 public:
  // Links into the priority chain of `graph`. Takes GraphLock.
  LegacyDaemonPlugin(Graph& graph, const std::string& name, const std::string& scriptPath,
                     uint32_t priority);

  void ApplyHostProfile() override;  // NotImplementedException
};

}  // namespace bootcrank

#endif  // BOOTCRANK_DAEMONS_DAEMON_PLUGIN_H_
