#include "plugins/plugin.h"

#include <mutex>
#include <unordered_set>

#include "host/log.h"
#include "plugins/exception.h"

namespace bootcrank {

namespace {

// Every plugin object that exists. A plugin lives until the process ends
// once it is built: barriers keep pointers to their providers and
// dependents, also to plugins that discovery leaves out of the run list
// (marked started, so that nothing waits for them), and run lists are
// dropped without deleting their plugins. Recording them here gives those
// objects an owner, so they are not lost memory; a plugin that is destroyed
// after all (one whose constructor threw, one on a test's stack) leaves the
// set. Never destroyed, so plugins outliving static destructors stay valid.
std::unordered_set<const Plugin*>& LivePlugins() {
  static auto* live = new std::unordered_set<const Plugin*>;
  return *live;
}

std::mutex livePluginsMutex;

}  // namespace

TimeValue TimeValue::Now() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return TimeValue{static_cast<int64_t>(now.tv_sec),
                   static_cast<int64_t>(now.tv_usec)};
}

int64_t ElapsedMicroseconds(const TimeValue& start, const TimeValue& end) {
  return (end.seconds - start.seconds) * 1000000 +
         (end.microseconds - start.microseconds);
}

Plugin::Plugin(const std::string& name, uint32_t executionClass)
    : Node(name, executionClass) {
  std::lock_guard<std::mutex> lock(livePluginsMutex);
  LivePlugins().insert(this);
}

Plugin::~Plugin() {
  std::lock_guard<std::mutex> lock(livePluginsMutex);
  LivePlugins().erase(this);
}

std::string Plugin::DotAttributes() const { return ""; }

bool Plugin::InvokeMethod(const std::string& method) {
  try {
    if (method == "start") {
      Log_Level(kLogInfo, "executing start plugin: %s\n", Name().c_str());
      Start();
    } else if (method == "apply_host_profile") {
      Log_Level(kLogInfo, "executing host profile plugin: %s\n", Name().c_str());
      ApplyHostProfile();
    }
    return true;
  } catch (const MethodFailedException& e) {
    Log_Level(kLogError, "Method invocation failed: %s\n", e.what());
  } catch (const std::exception& e) {
    Log_Level(kLogError, "unable to invoke method '%s' on plugin '%s': %s\n",
              method.c_str(), Name().c_str(), e.what());
  } catch (...) {
    Log_Level(kLogError,
              "unknown exception whilst attempting to execute method '%s' on "
              "plugin '%s'\n",
              method.c_str(), Name().c_str());
  }
  return false;
}

}  // namespace bootcrank
