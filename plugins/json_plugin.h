// JSONPlugin: a plugin built from a JSON descriptor file whose operations are
// lists of host CLI command lines (format: plugins/json_descriptor.h).
//
// The constructor reads and checks the whole descriptor first and links the
// plugin to its barriers only when it is valid, so a rejected descriptor
// leaves no edge in the graph (barriers are not created for it either).
// Activation sends the command lines one by one to the CLI executor process.
//
// Thread-safety: constructed on the main thread (the barrier operations take
// GraphLock themselves); the command lists never change afterwards, so Start
// and ApplyHostProfile may run on several worker threads at once.
#ifndef BOOTCRANK_PLUGINS_JSON_PLUGIN_H_
#define BOOTCRANK_PLUGINS_JSON_PLUGIN_H_

#include <string>
#include <vector>

#include "plugins/plugin.h"

namespace bootcrank {

class JSONPlugin : public Plugin {
 public:
  // `path` is the descriptor's full path. Throws InvalidPluginException(path,
  // reason) for a descriptor that cannot be read or is invalid.
  JSONPlugin(Graph& graph, const std::string& name, const std::string& path);

  const char* Kind() const override { return "json"; }
  void Start() override;  // the start commands, method "start"
  // apiVersion >= 2 and at least one host-profile command.
  bool UsesHostProfile() override;
  // Below version 2 throws NotImplementedException(
  // "json_plugin::ApplyHostProfile"); otherwise the host-profile commands
  // (none: success), method "apply_host_profile".
  void ApplyHostProfile() override;

  // Sends each command line to the CLI executor, in order, going on after a
  // failure (a standard exception's text is logged at level 110). When any
  // failed, throws MethodFailedException(method, name, "error while
  // executing the cli"). An empty list returns at once. A command longer
  // than the control protocol carries fails the method before any command
  // is sent (logged at level 110 with the plugin's name and the limit).
  // Each command sent is appended to `sent` (when given) with its result.
  static void RunCliCommands(const std::string& method, const std::string& name,
                             const std::vector<std::string>& commands,
                             std::vector<PluginReport::Command>* sent = nullptr);

  const std::vector<std::string>& StartCommands() const { return startCommands; }
  const std::vector<std::string>& HostProfileCommands() const { return hostProfileCommands; }

 private:
  std::vector<std::string> startCommands;
  std::vector<std::string> hostProfileCommands;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_JSON_PLUGIN_H_
