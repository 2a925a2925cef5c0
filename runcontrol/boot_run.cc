#include "runcontrol/boot_run.h"

#include <boost/filesystem.hpp>
#include <csignal>
#include <memory>

#include "cli/client/hvcli_executor.h"
#include "daemons/init_script_daemons.h"
#include "graph/cycles.h"
#include "graph/dependency_dump.h"
#include "graph/executor.h"
#include "graph/graph.h"
#include "host/error_text.h"
#include "host/files.h"
#include "host/host_control.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/read_file.h"
#include "host/run_lock.h"
#include "host/termination.h"
#include "host/log.h"
#include "host/process.h"
#include "host/spawn.h"
#include "plugins/discovery.h"
#include "runcontrol/profiling_log.h"
#include "runcontrol/run_once_record.h"

namespace bootcrank {

namespace {

// Runs `program` with one argument through SpawnAndWait.
void RunProgram(const std::string& program, const char* argument, const Settings& settings) {
  std::string path = program;
  std::string arg = argument;
  char* argv[] = {&path[0], &arg[0], nullptr};
  char* empty[] = {nullptr};
  SpawnAndWait(argv, settings.environment != nullptr ? settings.environment : empty);
}

uint32_t ChooseThreadCount(Settings& settings, size_t plugins) {
  if (host::PathExists(host::HostPath(host::kStatelessImagePath))) {
    settings.parallel = false;
    return settings.threadCount;
  }
  if (!settings.parallel) return settings.threadCount;
  uint32_t twice = 2 * host::ProcessorCount();
  uint32_t count = static_cast<uint32_t>(plugins);
  return twice < count ? twice : count;
}

void BuildRunList(Settings& settings, const CommandLine& line, BootRun& run) {
  if (line.daemon) {
    run.runList = DiscoverInitScriptDaemons(run.graph, line.stop);
    return;
  }
  run.runOnceSet.insert(line.runOnce.begin(), line.runOnce.end());
  if (settings.invoke) ReadRunOnceRecord(run.runOnceSet);
  run.runOnceBefore = run.runOnceSet;
  std::set<std::string> bootFlags = line.bootFlags;
  DiscoverPlugins(run.graph, line.pluginNames, bootFlags, run.runOnceSet, settings, run.runList,
                  &run.loadFailures);
}

// A run ended by a signal records only the run-once plugins that did run:
// the others must run at the next boot.
void ForgetKeysOfPluginsThatDidNotRun(BootRun& run) {
  for (Plugin* plugin : run.runList) {
    if (!plugin->RunOnce() || !plugin->ActivationStart().IsZero()) continue;
    std::string key = RunOnceKey(*plugin);
    if (run.runOnceBefore.count(key) == 0) run.runOnceSet.erase(key);
  }
}

void RunGraph(Settings& settings, const CommandLine& line, BootRun& run) {
  run.cycles = BreakDependencyCycles(run.graph, AsNodes(run.runList));
  Executor executor(static_cast<int32_t>(settings.threadCount), settings.randomize);
  if (line.daemon) {
    if (line.stop) {
      StopRun(AsNodes(run.runList), &executor);
    } else {
      StartRun(AsNodes(run.runList), &executor);
    }
    return;
  }
  {
    HvkCtl::System::KernelProgressScreenImpl screen;
    screen.ProgressText("Activating Bootcrank Plugins");
    screen.StatusText("");
  }
  StartRun(AsNodes(run.runList), &executor);
  if (host::TerminationSignal() != 0) ForgetKeysOfPluginsThatDidNotRun(run);
  WriteRunOnceRecord(run.runOnceSet);
}

}  // namespace

bool TakeRunLock() {
  const std::string path = host::HostPath(host::kRunLockPath);
  pid_t holder = 0;
  auto waiting = [&](pid_t pid) {
    Log_Level(kLogInfo, "waiting for the run of process %d to end (it holds %s)\n",
              static_cast<int>(pid), path.c_str());
  };
  switch (host::AcquireRunLock(path, waiting, &holder)) {
    case host::RunLockResult::kHeld: return true;
    case host::RunLockResult::kNested:
      Log_Level(kLogWarning,
                "not taking the run lock %s: it is held by process %d, which started this one\n",
                path.c_str(), static_cast<int>(holder));
      return true;
    case host::RunLockResult::kUnavailable:
      Log_Level(kLogWarning, "unable to take the run lock %s: %s; running without it\n",
                path.c_str(), host::ErrorText(errno).c_str());
      return true;
    case host::RunLockResult::kInterrupted: break;
  }
  return false;
}

void EndRunningPlugins(int signal) {
  Log_Level(kLogWarning, "received %s: starting no further plugin and ending the running ones\n",
            host::SignalDescription(signal).c_str());
  int ended = host::TerminateDescendants(5000, 0);
  if (ended > 0) Log_Level(kLogInfo, "ended %d process(es) of the running plugins\n", ended);
}

int ExitStatusAfterSignal() { return 128 + host::TerminationSignal(); }

void StartSyslogAndEventDaemons(const Settings& settings) {
  RunProgram(host::HostPath(host::kSyslogDaemonPath), "-i", settings);
  RunProgram(host::HostPath(host::kEventDaemonScriptPath), "start", settings);
}

void PrepareProcess(Settings& settings, const CommandLine& line) {
  // An empty --plugin-directory= stays empty, and discovery then fails to
  // open it: a script whose variable is unset must not run the host's own
  // plugins by accident.
  std::string directory =
      line.pluginDirectoryGiven ? line.pluginDirectory : host::HostPath(host::kPluginDirectoryPath);
  settings.pluginDirectory =
      directory.empty() ? directory : boost::filesystem::system_complete(directory).string();
  if (int error = host::ChangeDirectory(host::kRootDirectoryPath)) {
    Log_Level(kLogInfo, "unable to change filesystem root: %s.\n", host::ErrorText(error).c_str());
  }
  if (int error = host::StartSession()) {
    Log_Level(kLogInfo, "unable to create session: %s.\n", host::ErrorText(error).c_str());
  }
}

bool BuildAndRun(Settings& settings, const CommandLine& line, BootRun& run) {
  bool ok = line.dump;
  try {
    BuildRunList(settings, line, run);
    settings.threadCount = ChooseThreadCount(settings, run.runList.size());
    if (line.dump) {
      ok = DumpDependencyTree(run.graph, AsNodes(run.runList),
                              line.dumpToFile ? &line.dumpPath : nullptr);
    } else {
      RunGraph(settings, line, run);
      ok = true;
    }
  } catch (const std::exception& e) {
    Log_Level(kLogError, "unhandled exception whilst enumerating plugins.\nDetails:\n %s \n\n",
              e.what());
    ok = false;
  } catch (...) {
    Log_Level(kLogError, "unhandled exception whilst enumerating plugins.\nDetails:\n %s \n\n",
              "unknown exception");
    ok = false;
  }
  run.end = TimeValue::Now();
  return ok;
}

void ReloadSyslogDaemon() {
  // Read without blocking: a FIFO at the pid file's place reads as empty.
  std::string text;
  host::ReadResult read = host::ReadFile(host::HostPath(host::kSyslogDaemonPidPath), 4096, &text);
  if (read == host::ReadResult::kNotOpened) {
    Log_Level(kLogWarning, "unable to open hvksyslogd pid file.\n");
    return;
  }
  // Only a real process id, read whole: a wider value narrowed, 0 or a
  // negative number would signal a process group or every process.
  pid_t pid = read == host::ReadResult::kComplete ? host::ParseProcessId(text) : 0;
  if (pid == 0) {
    Log_Level(kLogError, "unable to read hvsyslogd pid.\n");
    return;
  }
  if (int error = host::SendSignal(pid, SIGUSR1)) {
    Log_Level(kLogWarning, "failed to reload hvsyslogd: %s.\n", host::ErrorText(error).c_str());
  }
}

bool FinishRun(const Settings& settings, const CommandLine& line, BootRun& run, bool ok) {
  if (!settings.invoke && !line.daemon) {
    WriteProfilingLog(run.start, run.end, run.uptimeSeconds, run.runList, settings);
  } else if (line.daemon) {
    AppendDaemonProfilingLog(run.start, run.end, run.runList, settings);
  }

  if (line.init) {
    if (host::PathExists(host::HostPath(host::kSyslogConfigPath))) {
      std::string script = host::HostPath(host::kSyslogUpgradeScriptPath);
      if (host::RunShellCommand(script) == -1) {
        Log_Level(kLogError, "failed to call %s\n", script.c_str());
      }
    }
    ReloadSyslogDaemon();
  }

  if (line.daemon) return ok;
  try {
    HvcliExecutor::Instance().Stop();
  } catch (const std::exception& e) {
    Log_Level(kLogError, "Failed to stop Executor: %s\n", e.what());
    ok = false;
  } catch (...) {
    Log_Level(kLogError, "Failed to stop Executor\n");
    ok = false;
  }
  return ok;
}

}  // namespace bootcrank
