// Plugin activation: what a worker does when a plugin's turn comes.

#include "base/graph_lock.h"
#include "plugins/interactive.h"
#include "host/files.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "base/exception.h"
#include "plugins/plugin.h"
#include "host/logging.h"
#include "base/settings.h"

namespace bootcrank {

namespace {

// Whether a host profile exists; looked up once per process by the first
// activation that needs it, which several workers may ask for at once.
bool hostProfileKnown GUARDED_BY(graphLock) = false;
bool hostProfileAvailable GUARDED_BY(graphLock) = false;

bool HostProfileAvailable() {
  GraphLockHolder lock;
  if (!hostProfileKnown) {
    hostProfileAvailable = host::PathExists(host::HostPath(host::kHostProfilePath)) ||
                           host::PathExists(host::HostPath(host::kCompressedHostProfilePath));
    hostProfileKnown = true;
  }
  return hostProfileAvailable;
}

}  // namespace

void Plugin::Activate(Executor*) {
  Settings& settings = Settings::Instance();
  activationStart = TimeValue::Now();
  // A skipped plugin gets no end time and no further message.
  if (settings.interactive && InteractiveStep(Name()) == InteractiveOutcome::kSkip) {
    report.outcome = PluginReport::Outcome::kSkipped;
    report.detail = "interactive";
    return;
  }

  const char* name = Name().c_str();
  if (settings.trace) Log_Level(kLogInfo, "starting execution of plugin: %s\n", name);
  KernelLog("Activating Bootcrank plugin %s.", name);

  std::string error;
  try {
    if (!settings.method.empty()) {
      if (!InvokeMethod(settings.method)) {
        error = report.detail.empty() ? "Method invocation failed" : report.detail;
      }
    } else if (UsesHostProfile() && HostProfileAvailable()) {
      Log_Level(kLogInfo, "executing host profile plugin: %s\n", name);
      ApplyHostProfile();
    } else {
      Log_Level(kLogInfo, "executing start plugin: %s\n", name);
      Start();
    }
  } catch (const MethodFailedException& e) {
    Log_Level(kLogError, "Method invocation failed: %s\n", e.what());
    error = e.what();
  } catch (const std::exception& e) {
    Log_Level(kLogError, "unhandled exception whilst processing %s: %s\n", name, e.what());
    error = e.what();
  } catch (...) {
    Log_Level(kLogError, "ignoring unknown exception whilst processing %s ...\n", name);
    error = "unknown exception";
  }
  activationEnd = TimeValue::Now();
  report.outcome =
      error.empty() ? PluginReport::Outcome::kSucceeded : PluginReport::Outcome::kFailed;
  report.detail = error;

  if (settings.trace) {
    Log_Level(kLogInfo, "completed execution of plugin: %s (took %lld us)\n", name,
              static_cast<long long>(ElapsedMicros()));
  }
  if (error.empty()) {
    KernelLog("Bootcrank plugin %s activated.", name);
  } else {
    KernelLog("Bootcrank plugin %s activation failed: %s", name, error.c_str());
  }
}

}  // namespace bootcrank
