#include "daemons/init_script_daemons.h"

#include <algorithm>
#include <boost/filesystem/path.hpp>
#include <exception>
#include <sstream>

#include "daemons/daemon_plugin.h"
#include "graph/graph.h"
#include "host/host_paths.h"
#include "host/files.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/spawn.h"
#include "base/exception.h"

namespace bootcrank {

namespace {

// Daemons that init mode has already started before any plugin runs.
bool ExcludedFromStartRuns(const std::string& name) {
  return name == "hvsyslogd" || name == "evtd";
}

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

}  // namespace

bool ParseInitScriptLine(const std::string& line, InitScriptEntry* entry) {
  std::istringstream in(line);
  InitScriptEntry parsed;
  if (!(in >> parsed.path >> parsed.priority)) return false;
  *entry = std::move(parsed);
  return true;
}

InitScriptListing ParseInitScriptListing(std::istream& in) {
  InitScriptListing listing;
  std::string line;
  while (std::getline(in, line)) {
    InitScriptEntry entry;
    if (ParseInitScriptLine(line, &entry)) {
      listing.entries.push_back(std::move(entry));
    } else if (!IsBlank(line)) {
      listing.malformed.push_back(line);
    }
  }
  std::stable_sort(
      listing.entries.begin(), listing.entries.end(),
      [](const InitScriptEntry& a, const InitScriptEntry& b) { return a.priority < b.priority; });
  return listing;
}

RunList DiscoverInitScriptDaemons(Graph& graph, bool stop) {
  InitScriptListing listing;
  // A host without chkconfig (Debian) lists its scripts with the shipped
  // lister, which prints the same lines.
  std::string tool = host::HostPath(host::kInitScriptListerPath);
  if (!host::PathExists(tool)) tool = host::HostPath(host::kShippedInitScriptListerPath);
  const std::string command = tool + " -p";
  std::string output;
  // The tool's exit status does not matter; a shell that cannot be started
  // lists nothing.
  if (host::ReadShellCommandOutput(command, &output)) {
    try {
      std::istringstream in(output);
      listing = ParseInitScriptListing(in);
    } catch (...) {
      throw Exception("Failed obtaining list of init.d scripts");
    }
  }

  for (const std::string& line : listing.malformed) {
    Log_Level(kLogInfo, "ignoring malformed init script listing line: %s\n", line.c_str());
  }

  RunList runList;
  for (const InitScriptEntry& entry : listing.entries) {
    std::string name = boost::filesystem::path(entry.path).filename().string();
    if (!stop && ExcludedFromStartRuns(name)) continue;
    try {
      runList.push_back(graph.Add(std::make_unique<LegacyDaemonPlugin>(
          graph, name, entry.path, static_cast<uint32_t>(entry.priority))));
    } catch (const std::exception& e) {
      Log_Level(kLogWarning, "Failed to create init.d daemon plugin: %s because: %s\n",
                name.c_str(), e.what());
    } catch (...) {
      Log_Level(kLogWarning, "Failed to create init.d daemon plugin: %s\n", name.c_str());
    }
  }
  return runList;
}

}  // namespace bootcrank
