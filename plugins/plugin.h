// Plugin: the abstract base of every unit of start-up work.
//
// A plugin is a Node of the dependency graph; its kind's constructor links it
// to its barriers in the Graph that it is then added to, at once. The base
// adds what all kinds share: the interface version of its descriptor, the
// run-once marker and the plugin's own version, the boot flags that enable or
// disable it, the times of its activation, and the method interface that
// activation and invoke runs call.
//
// Thread-safety: descriptor fields are written only by the constructor on the
// main thread during discovery and only read afterwards; the activation times
// are written by the one worker that activates the plugin and read after the
// workers have been joined.
#ifndef BOOTCRANK_PLUGINS_PLUGIN_H_
#define BOOTCRANK_PLUGINS_PLUGIN_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/time_value.h"
#include "graph/node.h"

namespace bootcrank {

class Graph;

// What became of a plugin in a run, for the boot record.
struct PluginReport {
  enum class Outcome {
    kNotReached,  // never activated (the run ended first, or not in the run)
    kSucceeded,   // its method returned
    kFailed,      // its method failed; `detail` holds the exception's text
    kSkipped,     // a filter or the operator kept it from running; `detail`
                  // says which: "disabled", "boot_flags", "run_once",
                  // "interactive"
  };
  // One CLI command of a JSON plugin, in the order sent.
  struct Command {
    std::string line;
    bool succeeded = false;
    std::string error;  // the client's text for a failed one
  };
  Outcome outcome = Outcome::kNotReached;
  std::string detail;
  std::vector<Command> commands;
};

class Plugin : public Node {
 public:
  explicit Plugin(const std::string& name, uint32_t executionClass = 1);

  // Plugin activation: the console prompt in interactive runs, then the
  // method chosen by the run (Start, ApplyHostProfile or --method), timed,
  // with every failure caught and reported. Never throws.
  void Activate(Executor* executor) override;
  std::string DotAttributes() const override;  // "" for every kind

  virtual void Start() = 0;
  virtual bool UsesHostProfile() = 0;
  virtual void ApplyHostProfile() = 0;
  int32_t ApiVersion() const { return apiVersion; }

  // Runs the method named "start" or "apply_host_profile" (any other name:
  // nothing), logging and swallowing its failures. True when nothing failed.
  bool InvokeMethod(const std::string& method);

  // "json", "native", "debug" or "daemon".
  virtual const char* Kind() const = 0;
  // Where the plugin came from: its file, and for a debug injection the line
  // of the injection file (0 for the other kinds).
  const std::string& SourceFile() const { return sourceFile; }
  int SourceLine() const { return sourceLine; }
  void SetSource(const std::string& file, int line) {
    sourceFile = file;
    sourceLine = line;
  }

  // Written by discovery (filters) and by the worker that activates the
  // plugin; read after the workers have been joined.
  PluginReport& Report() { return report; }
  const PluginReport& Report() const { return report; }

  std::set<std::string>& RequiredFlags() { return requiredFlags; }
  std::set<std::string>& DisablingFlags() { return disablingFlags; }
  bool RunOnce() const { return runOnce; }
  const std::string& PluginVersion() const { return pluginVersion; }
  TimeValue& ActivationStart() { return activationStart; }
  TimeValue& ActivationEnd() { return activationEnd; }
  int64_t ElapsedMicros() const { return ElapsedMicroseconds(activationStart, activationEnd); }

 protected:
  int32_t apiVersion = -1;  // 1..4 once a descriptor loaded; -1 for daemons
  bool runOnce = false;
  std::string pluginVersion;
  std::set<std::string> requiredFlags;
  std::set<std::string> disablingFlags;
  TimeValue activationStart;  // zero until activation starts
  TimeValue activationEnd;    // zero until the method returned or failed
  std::string sourceFile;
  int sourceLine = 0;
  PluginReport report;
};

// The plugins of a run, in the order discovery appended them. The graph
// they were built into owns them.
using RunList = std::vector<Plugin*>;

// The run list as graph nodes, for the graph's walks, dump and cycle search.
std::vector<Node*> AsNodes(const RunList& runList);

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_PLUGIN_H_
