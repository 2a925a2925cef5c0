#include "runcontrol/boot_record.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdio>
#include <ctime>
#include <exception>
#include <nlohmann/json.hpp>

#include "graph/barrier.h"
#include "graph/graph.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/process.h"
#include "host/read_file.h"
#include "host/termination.h"
#include "runcontrol/afstream.h"

namespace bootcrank {

namespace {

using json = nlohmann::ordered_json;

constexpr size_t kExecutorLogLimit = 8 * 1024 * 1024;

const char* OutcomeName(PluginReport::Outcome outcome) {
  switch (outcome) {
    case PluginReport::Outcome::kSucceeded: return "succeeded";
    case PluginReport::Outcome::kFailed: return "failed";
    case PluginReport::Outcome::kSkipped: return "skipped";
    case PluginReport::Outcome::kNotReached: break;
  }
  return "not_reached";
}

std::string Mode(const CommandLine& line) {
  if (line.daemon) return line.stop ? "daemon-stop" : "daemon-start";
  return line.init ? "init" : "plain";
}

// Adds the times of `node` that happened: ready, started, ended, worker.
void AddTimes(const Node& node, json& out) {
  const Node::Times& times = node.times;
  if (!times.ready.IsZero()) out["ready"] = times.ready.Micros();
  if (!times.started.IsZero()) out["started"] = times.started.Micros();
  if (!times.ended.IsZero()) out["ended"] = times.ended.Micros();
  if (times.worker >= 0) out["worker"] = times.worker;
}

json Names(const std::vector<Node*>& nodes, bool barriersOnly) {
  json names = json::array();
  for (const Node* node : nodes) {
    if (!barriersOnly || dynamic_cast<const InitBarrier*>(node) != nullptr)
      names.push_back(node->Name());
  }
  return names;
}

// The executor's own reason for a failed command, from its output log: the
// last "execution of '<command>' failed : <reason>" record.
std::string ExecutorReason(const std::string& log, const std::string& command) {
  const std::string marker = "execution of '" + command + "' failed : ";
  size_t at = log.rfind(marker);
  if (at == std::string::npos) return "";
  size_t begin = at + marker.size();
  size_t end = log.find('\n', begin);
  return log.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

json PluginEntry(Plugin& plugin, bool stopRun, const std::string& executorLog) {
  json entry;
  entry["name"] = plugin.Name();
  entry["kind"] = plugin.Kind();
  json source;
  source["file"] = plugin.SourceFile();
  if (plugin.SourceLine() > 0) source["line"] = plugin.SourceLine();
  entry["source"] = source;
  std::vector<Node*> dependencies, dependents;
  {
    GraphLockHolder lock;
    dependencies = plugin.Dependencies();
    dependents = plugin.Dependents();
  }
  entry["requires"] = Names(dependencies, true);
  entry["provides"] = Names(dependents, true);
  entry["execution_class"] = plugin.ExecutionClass();
  entry["depth"] = stopRun ? plugin.DependencyDepth() : plugin.DependentDepth();
  entry["after"] = Names(stopRun ? dependents : dependencies, false);
  const PluginReport& report = plugin.Report();
  PluginReport::Outcome outcome = report.outcome;
  entry["result"] = OutcomeName(outcome);
  if (outcome == PluginReport::Outcome::kFailed) entry["error"] = report.detail;
  if (outcome == PluginReport::Outcome::kSkipped) entry["skip_reason"] = report.detail;
  AddTimes(plugin, entry);
  if (!report.commands.empty()) {
    json commands = json::array();
    for (const PluginReport::Command& command : report.commands) {
      json one;
      one["command"] = command.line;
      one["status"] = command.succeeded ? 0 : 1;
      if (!command.succeeded) {
        std::string reason = ExecutorReason(executorLog, command.line);
        one["error"] = reason.empty() ? command.error : reason;
      }
      commands.push_back(one);
    }
    entry["commands"] = commands;
  }
  return entry;
}

json BarrierEntry(InitBarrier& barrier, bool stopRun) {
  json entry;
  entry["name"] = barrier.Name();
  entry["kind"] = dynamic_cast<PriorityBarrier*>(&barrier) != nullptr ? "priority" : "init";
  GraphLockHolder lock;
  entry["after"] = Names(stopRun ? barrier.Dependents() : barrier.Dependencies(), false);
  AddTimes(barrier, entry);
  return entry;
}

json SettingsEntry(const Settings& settings) {
  json entry;
  entry["parallel"] = settings.parallel;
  entry["workers"] = settings.threadCount;
  entry["randomize"] = settings.randomize;
  entry["random_seed"] = settings.randomSeed;
  entry["interactive"] = settings.interactive;
  entry["verbose"] = settings.verbose;
  entry["trace"] = settings.trace;
  entry["plugin_directory"] = settings.pluginDirectory;
  entry["disabled_plugins"] = settings.disabledPlugins;
  entry["method"] = settings.method;
  entry["daemon_wait"] = settings.daemonWait;
  entry["daemon_wait_timeout"] = settings.daemonWaitTimeout;
  return entry;
}

// Drops the oldest records beyond the kept number; only names that a
// record has, so nothing else in the directory is touched.
void DropOldRecords(const std::string& directory) {
  std::vector<std::string> names;
  boost::system::error_code error;
  for (boost::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.size() == std::string("YYYYMMDDTHHMMSS.uuuuuuZ.json").size() && name[8] == 'T' &&
        name.compare(name.size() - 6, 6, "Z.json") == 0) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  for (size_t i = 0; i + kKeptBootRecords < names.size(); ++i) {
    boost::filesystem::remove(directory + "/" + names[i], error);
  }
}

}  // namespace

std::string BootRecordName(const TimeValue& start) {
  time_t seconds = static_cast<time_t>(start.seconds);
  struct tm utc;
  gmtime_r(&seconds, &utc);
  char name[64];
  snprintf(name, sizeof name, "%04d%02d%02dT%02d%02d%02d.%06lldZ.json", utc.tm_year + 1900,
           utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
           static_cast<long long>(start.microseconds));
  return name;
}

std::string BootRecordText(const Settings& settings, const CommandLine& line, const BootRun& run,
                           int exitStatus) {
  const bool stopRun = line.daemon && line.stop;
  json record;
  record["schema"] = kBootRecordSchema;
  record["program"] = {{"name", "bootcrank"}, {"version", BOOTCRANK_VERSION}};
  record["host"] = {{"name", host::HostName()}, {"kernel", host::KernelRelease()}};
  record["mode"] = Mode(line);
  record["arguments"] = run.arguments;
  record["boot_flags"] = line.bootFlags;
  record["settings"] = SettingsEntry(settings);
  record["start"] = run.start.Micros();
  record["end"] = run.end.Micros();
  record["uptime_seconds"] = run.uptimeSeconds;
  record["exit_status"] = exitStatus;
  int signal = host::TerminationSignal();
  record["signal"] = signal != 0 ? json(host::SignalName(signal)) : json(nullptr);

  std::string executorLog;
  host::ReadFile(host::HostPath(host::kExecutorOutputLogPath), kExecutorLogLimit, &executorLog);
  json plugins = json::array();
  json barriers = json::array();
  json missing = json::array();
  for (Node* node : run.graph.Nodes()) {
    if (auto* plugin = dynamic_cast<Plugin*>(node))
      plugins.push_back(PluginEntry(*plugin, stopRun, executorLog));
  }
  for (InitBarrier* barrier : run.graph.AllBarriers()) {
    barriers.push_back(BarrierEntry(*barrier, stopRun));
    GraphLockHolder lock;
    if (dynamic_cast<PriorityBarrier*>(barrier) == nullptr && barrier->Dependencies().empty() &&
        !barrier->Dependents().empty()) {
      missing.push_back(
          {{"name", barrier->Name()}, {"required_by", Names(barrier->Dependents(), false)}});
    }
  }
  record["plugins"] = plugins;
  record["barriers"] = barriers;
  json failures = json::array();
  for (const LoadFailure& failure : run.loadFailures) {
    failures.push_back({{"file", failure.file}, {"reason", failure.reason}});
  }
  record["load_failures"] = failures;
  json cycles = json::array();
  for (const CycleReport& cycle : run.cycles) {
    cycles.push_back({{"nodes", cycle.nodes},
                      {"length", cycle.length},
                      {"dropped", {{"from", cycle.droppedFrom}, {"to", cycle.droppedTo}}}});
  }
  record["cycles"] = cycles;
  record["missing_barriers"] = missing;
  // Invalid UTF-8 in a name or a command is replaced, never a reason to lose the record.
  return record.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

void WriteBootRecord(const Settings& settings, const CommandLine& line, const BootRun& run,
                     int exitStatus) {
  if (line.dump || settings.invoke) return;
  const std::string directory = host::HostPath(host::kBootRecordDirectoryPath);
  const std::string path = directory + "/" + BootRecordName(run.start);
  try {
    boost::filesystem::create_directories(directory);
    afstream out;
    out.open(path.c_str(), std::ios_base::out | std::ios_base::binary);
    out << BootRecordText(settings, line, run, exitStatus);
    out.commit();
  } catch (const std::exception& e) {
    Log_Level(kLogWarning, "unable to write boot record %s: %s\n", path.c_str(), e.what());
    return;
  }
  DropOldRecords(directory);
}

}  // namespace bootcrank
