#include "runcontrol/profiling_log.h"

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iomanip>
#include <string>

#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/replace_file.h"
#include "runcontrol/afstream.h"

namespace bootcrank {
namespace {

// One "[<start> - <end>] <tag>: <name>" line per plugin, in run-list order.
void WritePluginLines(std::ostream& out, const RunList& runList, const char* tag) {
  for (Plugin* plugin : runList) {
    out << "[";
    FormatTimestamp(out, plugin->ActivationStart());
    out << " - ";
    FormatTimestamp(out, plugin->ActivationEnd());
    out << "] " << tag << ": " << plugin->Name() << "\n";
  }
}

void WriteSettingsLines(std::ostream& out, const Settings& settings) {
  out << " Verbose: " << (settings.verbose ? 1 : 0) << "\n"
      << " Parallel: " << (settings.parallel ? 1 : 0) << "\n"
      << " Randomize: " << (settings.randomize ? 1 : 0) << "\n"
      << " Interactive Mode: " << (settings.interactive ? 1 : 0) << "\n"
      << " Random Seed: " << static_cast<int64_t>(settings.randomSeed) << "\n";
}

}  // namespace

void FormatTimestamp(std::ostream& out, const TimeValue& time) {
  time_t seconds = static_cast<time_t>(time.seconds);
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  gmtime_r(&seconds, &parts);
  out << std::setfill('0') << std::setw(4) << parts.tm_year + 1900 << "-" << std::setw(2)
      << parts.tm_mon + 1 << "-" << std::setw(2) << parts.tm_mday << " " << std::setw(2)
      << parts.tm_hour << ":" << std::setw(2) << parts.tm_min << ":" << std::setw(2) << parts.tm_sec
      << "." << std::setw(6) << time.microseconds;
}

namespace {

// The plugin lines of a run, then its configuration section: the heading,
// the run's start and end under the given labels, and the settings.
void WriteRunSection(std::ostream& log, const RunList& runList, const char* pluginTag,
                     const char* heading, const char* startLabel, const char* endLabel,
                     const TimeValue& start, const TimeValue& end, const Settings& settings) {
  WritePluginLines(log, runList, pluginTag);
  log << "=== " << heading << " configuration info ===\n " << startLabel << ": ";
  FormatTimestamp(log, start);
  log << "\n " << endLabel << ": ";
  FormatTimestamp(log, end);
  log << "\n";
  WriteSettingsLines(log, settings);
}

}  // namespace

void WriteProfilingLog(const TimeValue& start, const TimeValue& end, long uptimeSeconds,
                       const RunList& runList, const Settings& settings) {
  std::string path = host::HostPath(host::kProfilingLogPath);
  // A killed run may have left its temporary file; this run is the only one.
  host::RemoveLeftoverTemporaries(path);
  try {
    afstream log;
    log.open(path.c_str(), std::ios_base::out);
    if (log.fail()) {
      Log_Level(kLogError, "unable to open profiling log (%s): %s.\n", path.c_str(),
                host::ErrorText(errno).c_str());
      return;
    }
    log << "HVKernel Initialization Time: "
        << static_cast<uint64_t>(uptimeSeconds) * UINT64_C(1000000) << "\n";
    WriteRunSection(log, runList, "sysboot", "Bootcrank", "Start", "End", start, end, settings);
    log.commit();
  } catch (const std::exception& e) {
    Log_Level(kLogWarning, "unable to log profiling information: %s.\n", e.what());
  }
}

void AppendDaemonProfilingLog(const TimeValue& start, const TimeValue& end, const RunList& runList,
                              const Settings& settings) {
  std::string path = host::HostPath(host::kProfilingLogPath);
  host::RemoveLeftoverTemporaries(path);
  try {
    afstream log;
    log.reopen(path.c_str(), std::ios_base::out);
    if (log.fail()) {
      Log_Level(kLogError, "unable to reopen profiling log (%s): %s.\n", path.c_str(),
                host::ErrorText(errno).c_str());
      return;
    }
    WriteRunSection(log, runList, "daemon", "Daemon", "Start Daemon", "End Daemon", start, end,
                    settings);
    log.commit();
  } catch (const std::exception& e) {
    Log_Level(kLogWarning, "unable to log daemon profiling information: %s.\n", e.what());
  }
}

}  // namespace bootcrank
