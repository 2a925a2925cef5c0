#include "plugins/plugin.h"

#include "host/log.h"
#include "plugins/exception.h"

namespace bootcrank {

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
    : Node(name, executionClass) {}

Plugin::~Plugin() = default;

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
