// The steps of one run of the program, in the order main calls them.
#ifndef BOOTCRANK_RUNCONTROL_BOOT_RUN_H_
#define BOOTCRANK_RUNCONTROL_BOOT_RUN_H_

#include <set>
#include <string>

#include "graph/cycles.h"
#include "graph/graph.h"
#include "plugins/discovery.h"
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
  std::set<std::string> runOnceBefore;    // the set as discovery found it
  std::vector<std::string> arguments;     // the command line after the program name
  std::vector<LoadFailure> loadFailures;  // plugin files that could not be loaded
  std::vector<CycleReport> cycles;        // the dependency cycles broken
};

// Takes the run lock of the host root (HostPath of
// "/var/run/quarro/bootcrank.lock"), waiting for a run that holds it with an
// info message naming its pid. A lock that cannot be taken is a warning and
// the run goes on without it, as it does when an ancestor process (a plugin
// running the program again) holds it. False only when a termination signal
// arrived while waiting.
bool TakeRunLock();

// The termination watcher's work (any thread): logs the signal and ends the
// processes that the run's plugins started, SIGTERM first and SIGKILL five
// seconds later.
void EndRunningPlugins(int signal);

// The exit status of a run ended by a termination signal: 128 + its number.
int ExitStatusAfterSignal();

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
