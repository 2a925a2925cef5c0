// Plugin discovery: turning the files of the plugin directory into the run
// list, and the filters that keep plugins from running.
//
// A file name becomes a plugin by its extension (the text after the last
// "."): "so" a NativePlugin, "json" a JSONPlugin, "debug" one DebugPlugin
// per debug injection entry of the same name. The plugin's name is the text
// before the last ".", with one leading "lib" removed (libnet.so and
// net.json are both "net"). A file that cannot be loaded is reported as a
// system alert plus a level-115 message and skipped; discovery always goes
// on with the next file.
//
// Filters, in order, for a loaded plugin (the first that applies wins):
//   1. the disabled list (compared with the plugin's name): not listed;
//   2. boot flags: a given flag among its disabling flags, or a required
//      flag not given: not listed;
//   3. run-once: its key (name + plugin version) already recorded: listed
//      but already finished; otherwise the key is recorded.
// A filtered plugin stays linked into the graph and is marked started, so
// whatever waits for its barriers does not wait for it.
//
// Thread-safety: main thread only, before the executor exists. Plugin
// constructors and MarkStarted take GraphLock themselves.
#ifndef BOOTCRANK_PLUGINS_DISCOVERY_H_
#define BOOTCRANK_PLUGINS_DISCOVERY_H_

#include <set>
#include <string>
#include <vector>

#include "plugins/plugin.h"
#include "base/settings.h"

namespace bootcrank {

// Examines, building into `graph`, the file `fileName` (no directory part) of
// `settings.pluginDirectory`: builds its plugin(s), applies the filters and
// appends what passes to `runList`; adds the sanitised run-once key of an
// admitted run-once plugin to `runOnceSet`. Never throws for a plugin that
// cannot be loaded; an error of the debug injection reader propagates.
void LoadPlugin(Graph& graph, const std::string& fileName, RunList& runList,
                const std::set<std::string>& bootFlags,
                const std::vector<std::string>& disabledPlugins, std::set<std::string>& runOnceSet,
                const Settings& settings);

// A plugin file that could not be loaded: its path and why.
struct LoadFailure {
  std::string file;
  std::string reason;
};

// The key under which `plugin` is recorded in the run-once set: its name and
// plugin version, without the characters a record cannot hold.
std::string RunOnceKey(const Plugin& plugin);

// The whole discovery. With no `pluginNames`: every entry of the plugin
// directory in the order the directory yields them (any type), then one
// DebugPlugin per debug injection entry, in file order. With names: each
// named file of the plugin directory, in order, and nothing else. Files
// that cannot be loaded are also appended to `failures` when given. Errors
// opening or reading the directory, and of the debug injection reader,
// propagate.
void DiscoverPlugins(Graph& graph, const std::vector<std::string>& pluginNames,
                     const std::set<std::string>& bootFlags, std::set<std::string>& runOnceSet,
                     Settings& settings, RunList& runList,
                     std::vector<LoadFailure>* failures = nullptr);

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_DISCOVERY_H_
