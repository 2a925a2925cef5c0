#include "runcontrol/boot_run.h"

#include <boost/filesystem.hpp>
#include <csignal>
#include <sstream>
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
#include "host/log.h"
#include "host/process.h"
#include "host/spawn.h"
#include "plugins/discovery.h"
#include "runcontrol/profiling_log.h"
#include "runcontrol/run_once_record.h"

namespace bootcrank {

namespace {

// Runs `program` with one argument through SpawnAndWait.
void RunProgram(const std::string& program, const char* argument,
                const Settings& settings) {
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
  std::set<std::string> bootFlags = line.bootFlags;
  DiscoverPlugins(run.graph, line.pluginNames, bootFlags, run.runOnceSet, settings, run.runList);
}

void RunGraph(Settings& settings, const CommandLine& line, BootRun& run) {
  BreakDependencyCycles(run.graph, AsNodes(run.runList));
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
  WriteRunOnceRecord(run.runOnceSet);
}

}  // namespace

void StartSyslogAndEventDaemons(const Settings& settings) {
  RunProgram(host::HostPath(host::kSyslogDaemonPath), "-i", settings);
  RunProgram(host::HostPath(host::kEventDaemonScriptPath), "start", settings);
}

void PrepareProcess(Settings& settings, const CommandLine& line) {
  std::string directory = line.pluginDirectory.empty()
                              ? host::HostPath(host::kPluginDirectoryPath)
                              : line.pluginDirectory;
  settings.pluginDirectory = boost::filesystem::system_complete(directory).string();
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
      ok = DumpDependencyTree(run.graph, AsNodes(run.runList), line.dumpToFile ? &line.dumpPath : nullptr);
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
  if (host::ReadFile(host::HostPath(host::kSyslogDaemonPidPath), 4096, &text) ==
      host::ReadResult::kNotOpened) {
    Log_Level(kLogWarning, "unable to open hvksyslogd pid file.\n");
    return;
  }
  std::istringstream pidFile(text);
  long pid = 0;
  // A pid of 0 or below would signal a process group or every process.
  if (!(pidFile >> pid) || pid <= 0) {
    Log_Level(kLogError, "unable to read hvsyslogd pid.\n");
    return;
  }
  if (int error = host::SendSignal(static_cast<pid_t>(pid), SIGUSR1)) {
    Log_Level(kLogWarning, "failed to reload hvsyslogd: %s.\n", host::ErrorText(error).c_str());
  }
}

bool FinishRun(const Settings& settings, const CommandLine& line, BootRun& run,
               bool ok) {
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
