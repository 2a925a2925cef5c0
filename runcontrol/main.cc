// bootcrank: the boot-time service orchestrator's entry point.
//
// main reads the options, prepares the process, has the run list built
// (plugin discovery, or the init-script daemons in daemon mode), runs it on
// the graph executor or dumps it as a dot graph, and finishes with the
// profiling log, the run-once record, the syslog daemon reload and the
// shutdown of the CLI executor process. Each step lives in its own file; this
// one only keeps their order.

#include <unistd.h>

#include <cstdio>
#include <exception>

#include "cli/client/hvcli_executor.h"
#include "host/log.h"
#include "host/process.h"
#include "host/termination.h"
#include "plugins/plugin.h"
#include "runcontrol/boot_record.h"
#include "runcontrol/boot_run.h"
#include "runcontrol/command_line.h"
#include "host/logging.h"
#include "base/settings.h"

using namespace bootcrank;

int main(int argc, char** argv, char** envp) {
  // 1. Start-up. The termination handlers come first, before any thread.
  host::InstallTerminationHandlers();
  Settings& settings = Settings::Instance();
  settings.environment = envp;
  CommandLine line;
  BootRun run;
  run.start = TimeValue::Now();
  run.uptimeSeconds = host::UptimeSeconds();
  run.arguments.assign(argv + 1, argv + argc);
  try {
    InitLogging("bootcrank");
  } catch (const std::exception& e) {
    Log_Level(kLogWarning, "Failed to initialize bootcrank: %s\n", e.what());
    return 1;
  } catch (...) {
    Log_Level(kLogWarning, "Failed to initialize bootcrank\n");
    return 1;
  }

  // 2. Options.
  switch (ParseCommandLine(argc, argv, settings, line)) {
    case ParseResult::kHelp: return 0;
    case ParseResult::kError: return 1;
    case ParseResult::kRun: break;
  }

  // 3. Combination.
  switch (CheckCombination(settings, line)) {
    case Combination::kInvalid:
      Log_Level(kLogError, "Invalid combination of options passed. Exiting\n");
      return 1;
    case Combination::kInvokeIncomplete:
      Log_Level(kLogError, "invoke requires a method and plugin specified\n");
      fputs(kUsageText, stdout);
      fflush(stdout);
      return 1;
    case Combination::kValid: break;
  }

  // One run per host root: wait for a run that is still going.
  if (!TakeRunLock()) return ExitStatusAfterSignal();
  // From here on a termination signal ends the run cleanly: the watcher
  // ends the running plugins' processes, the executor starts no new node,
  // and the steps below still write the outputs and stop the executor.
  host::TerminationWatcher watcher(EndRunningPlugins);

  // 4. Prepare the process.
  if (line.init) StartSyslogAndEventDaemons(settings);
  if (!line.daemon) {
    Log_Level(kLogInfo, "Launching Executor\n");
    try {
      HvcliExecutor::Instance().Reset();
    } catch (const std::exception& e) {
      Log_Level(kLogWarning, "Failed to start executor %s\n", e.what());
      return 1;
    } catch (...) {
      Log_Level(kLogWarning, "Failed to start executor\n");
      return 1;
    }
  }

  // 5 and 6. Absolute plugin directory, working directory "/", new session.
  PrepareProcess(settings, line);

  // 7 to 10. Discovery, thread count, run or dump, end time.
  bool ok = BuildAndRun(settings, line, run);

  // 11 and 12. Finish.
  ok = FinishRun(settings, line, run, ok);
  int status = host::TerminationSignal() != 0 ? ExitStatusAfterSignal() : ok ? 0 : 1;
  WriteBootRecord(settings, line, run, status);
  return status;
}
