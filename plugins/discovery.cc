#include "plugins/discovery.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <exception>
#include <memory>

#include "host/host_control.h"
#include "base/exception.h"
#include "graph/graph.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "plugins/debug_config.h"
#include "plugins/debug_plugin.h"
#include "plugins/json_plugin.h"
#include "plugins/native_plugin.h"

namespace bootcrank {
namespace {

// A load failure is host-wide news: an alert, and the same text in the log.
void ReportLoadFailure(const std::string& text) {
  HvkCtl::System::SystemInfoImpl().SetSystemAlert(text);
  Log_Level(kLogWarning, "%s\n", text.c_str());
}

// The debug plugin of `entry`, from the host's injection file.
Plugin* AddDebugPlugin(Graph& graph, const DebugEntry& entry) {
  Plugin* plugin = graph.Add(std::make_unique<DebugPlugin>(
      graph, entry.name, entry.requiredBarriers, entry.providedBarriers, entry.command));
  plugin->SetSource(host::HostPath(host::kDebugConfigPath), entry.lineNumber);
  return plugin;
}

// Builds the plugin of a "so" or "json" file, or appends the debug plugins of
// a "debug" file. Returns null when there is nothing to filter: a debug file,
// an unknown type (logged) or a constructor that failed (reported).
Plugin* BuildPlugin(Graph& graph, const std::string& fileName, const std::string& extension,
                    const std::string& baseName, const std::string& path,
                    const std::vector<DebugEntry>& entries, RunList& runList,
                    std::vector<LoadFailure>* failures) {
  try {
    Plugin* plugin = nullptr;
    if (extension == "so")
      plugin = graph.Add(std::make_unique<NativePlugin>(graph, baseName, path));
    if (extension == "json")
      plugin = graph.Add(std::make_unique<JSONPlugin>(graph, baseName, path));
    if (plugin != nullptr) {
      plugin->SetSource(path, 0);
      return plugin;
    }
    if (extension == "debug") {
      for (const DebugEntry& entry : entries) {
        if (entry.name != baseName) continue;
        runList.push_back(AddDebugPlugin(graph, entry));
      }
      return nullptr;
    }
  } catch (const std::exception& e) {
    ReportLoadFailure("exception occurred whilst loading plugin " + fileName + ": " + e.what());
    if (failures != nullptr) failures->push_back(LoadFailure{path, e.what()});
    return nullptr;
  } catch (...) {
    ReportLoadFailure("unknown exception occurred whilst loading plugin " + fileName);
    if (failures != nullptr) failures->push_back(LoadFailure{path, "unknown exception"});
    return nullptr;
  }
  Log_Level(kLogWarning, "ignoring plugin '%s' of unknown type (%s)...\n", fileName.c_str(),
            extension.c_str());
  return nullptr;
}

// The flags of `flags` that are (`wanted` true) or are not in `bootFlags`,
// in set order, each followed by one blank.
std::string FlagList(const std::set<std::string>& flags, const std::set<std::string>& bootFlags,
                     bool wanted) {
  std::string list;
  for (const std::string& flag : flags) {
    if ((bootFlags.count(flag) != 0) == wanted) list += flag + " ";
  }
  return list;
}

// True when the boot flags stop `plugin`; logs why.
bool StoppedByBootFlags(Plugin* plugin, const std::set<std::string>& bootFlags) {
  std::string disabling = FlagList(plugin->DisablingFlags(), bootFlags, true);
  std::string missing = FlagList(plugin->RequiredFlags(), bootFlags, false);
  if (!disabling.empty()) {
    Log_Level(kLogWarning, "ignoring plugin '%s', disabled due to boot flags: %s.\n",
              plugin->Name().c_str(), disabling.c_str());
  }
  if (!missing.empty()) {
    Log_Level(kLogWarning,
              "ignoring plugin '%s', disabled due to missing required boot flags: %s.\n",
              plugin->Name().c_str(), missing.c_str());
  }
  return !disabling.empty() || !missing.empty();
}

// Keys are recorded with only the characters a boot option value carries
// safely.
std::string SanitisedRunOnceKey(const std::string& key) {
  // The filter is the regular expression [^-a-zA-Z0-9._+] replaced by
  // nothing, written as a loop: a regex library pulls ICU into the program's
  // start-up for this one character class.
  auto safe = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '+';
  };
  std::string result;
  for (char c : key) {
    if (safe(static_cast<unsigned char>(c))) result += c;
  }
  return result;
}

// LoadPlugin with the debug injection entries taken from `debugEntries`
// (read once per discovery; the file does not change meanwhile, and the
// cache logs its malformed lines on every read, as a fresh read would).
void LoadPluginWith(Graph& graph, DebugEntryCache& debugEntries, const std::string& fileName,
                    RunList& runList, const std::set<std::string>& bootFlags,
                    const std::vector<std::string>& disabledPlugins,
                    std::set<std::string>& runOnceSet, const Settings& settings,
                    std::vector<LoadFailure>* failures) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) {
    Log_Level(kLogWarning, "ignoring plugin '%s' of unspecified type...\n", fileName.c_str());
    return;
  }
  std::string extension = fileName.substr(dot + 1);
  std::string baseName = fileName.substr(0, dot);
  if (baseName.compare(0, 3, "lib") == 0) baseName.erase(0, 3);
  // Joined by one separator: a directory given with a trailing "/" has one.
  const std::string& directory = settings.pluginDirectory;
  std::string path = !directory.empty() && directory.back() == '/' ? directory + fileName
                                                                   : directory + "/" + fileName;
  // Outside the failure guard: a broken debug configuration ends discovery.
  const std::vector<DebugEntry>& entries = debugEntries.Read();

  Plugin* plugin =
      BuildPlugin(graph, fileName, extension, baseName, path, entries, runList, failures);
  if (plugin == nullptr) return;

  if (std::find(disabledPlugins.begin(), disabledPlugins.end(), baseName) !=
      disabledPlugins.end()) {
    Log_Level(kLogInfo, "ignoring plugin '%s' due to blacklist.\n", baseName.c_str());
    plugin->Report() = PluginReport{PluginReport::Outcome::kSkipped, "disabled", {}};
    plugin->MarkStarted();
    return;
  }
  if (StoppedByBootFlags(plugin, bootFlags)) {
    plugin->Report() = PluginReport{PluginReport::Outcome::kSkipped, "boot_flags", {}};
    plugin->MarkStarted();
    return;
  }
  runList.push_back(plugin);

  if (!plugin->RunOnce()) return;
  std::string key = plugin->Name() + plugin->PluginVersion();
  if (runOnceSet.count(key) != 0) {
    Log_Level(kLogInfo, "ignoring plugin '%s' because version '%s'  has already been run.\n",
              plugin->Name().c_str(), plugin->PluginVersion().c_str());
    plugin->Report() = PluginReport{PluginReport::Outcome::kSkipped, "run_once", {}};
    plugin->MarkStarted();
  } else {
    runOnceSet.insert(SanitisedRunOnceKey(key));
  }
}

}  // namespace

std::string RunOnceKey(const Plugin& plugin) {
  return SanitisedRunOnceKey(plugin.Name() + plugin.PluginVersion());
}

void LoadPlugin(Graph& graph, const std::string& fileName, RunList& runList,
                const std::set<std::string>& bootFlags,
                const std::vector<std::string>& disabledPlugins, std::set<std::string>& runOnceSet,
                const Settings& settings) {
  DebugEntryCache debugEntries;
  LoadPluginWith(graph, debugEntries, fileName, runList, bootFlags, disabledPlugins, runOnceSet,
                 settings, nullptr);
}

void DiscoverPlugins(Graph& graph, const std::vector<std::string>& pluginNames,
                     const std::set<std::string>& bootFlags, std::set<std::string>& runOnceSet,
                     Settings& settings, RunList& runList, std::vector<LoadFailure>* failures) {
  DebugEntryCache debugEntries;
  if (!pluginNames.empty()) {
    // Like the directory walk below, which cannot open "": named plugins are
    // never looked for in the root or the working directory instead.
    if (settings.pluginDirectory.empty()) {
      throw Exception("plugin directory is empty: no plugin can be loaded");
    }
    for (const std::string& name : pluginNames) {
      LoadPluginWith(graph, debugEntries, name, runList, bootFlags, settings.disabledPlugins,
                     runOnceSet, settings, failures);
    }
    return;
  }
  const std::vector<DebugEntry>& entries = debugEntries.Read();
  for (boost::filesystem::directory_iterator it(settings.pluginDirectory), end; it != end; ++it) {
    LoadPluginWith(graph, debugEntries, it->path().filename().string(), runList, bootFlags,
                   settings.disabledPlugins, runOnceSet, settings, failures);
  }
  for (const DebugEntry& entry : entries) {
    runList.push_back(AddDebugPlugin(graph, entry));
  }
}

}  // namespace bootcrank
