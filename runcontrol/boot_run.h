// The steps of one run of the program, in the order main calls them.
#ifndef BOOTCRANK_RUNCONTROL_BOOT_RUN_H_
#define BOOTCRANK_RUNCONTROL_BOOT_RUN_H_

#include <set>
#include <string>

#include "graph/graph.h"
#include "plugins/plugin.h"
#include "runcontrol/command_line.h"
#include "base/settings.h"

namespace bootcrank {

// What main keeps for the length of a run.
struct BootRun {
  Graph graph;             // owns every plugin and barrier of the run
  TimeValue start;         // taken before anything else
  TimeValue end;           // taken after the run
  long uptimeSeconds = 0;  // the host's uptime at start
  RunList runList;         // in discovery order
  std::set<std::string> runOnceSet;
};

// Init mode: the host syslog daemon ("-i") and the event daemon ("start"),
// each run to completion with SpawnAndWait; results are not looked at.
void StartSyslogAndEventDaemons(const Settings& settings);

// Makes the plugin directory absolute, changes to "/" and starts a session.
void PrepareProcess(Settings& settings, const CommandLine& line);

// Builds the run list, chooses the thread count, runs it (or dumps it) and
// takes the end time. Returns the ok flag: true for a completed run or a
// dump that could be written.
bool BuildAndRun(Settings& settings, const CommandLine& line, BootRun& run);

// Profiling log, syslog configuration upgrade and reload (init mode), CLI
// executor stop. Returns the final ok flag.
bool FinishRun(const Settings& settings, const CommandLine& line, BootRun& run, bool ok);

// Sends SIGUSR1 to the syslog daemon named by its pid file, with the pid
// file's messages. Exposed for tests.
void ReloadSyslogDaemon();

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_BOOT_RUN_H_
