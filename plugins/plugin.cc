#include "plugins/plugin.h"

#include "host/log.h"
#include "base/exception.h"

namespace bootcrank {

Plugin::Plugin(const std::string& name, uint32_t executionClass) : Node(name, executionClass) {}

std::vector<Node*> AsNodes(const RunList& runList) {
  return std::vector<Node*>(runList.begin(), runList.end());
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
    report.detail = e.what();
  } catch (const std::exception& e) {
    Log_Level(kLogError, "unable to invoke method '%s' on plugin '%s': %s\n", method.c_str(),
              Name().c_str(), e.what());
    report.detail = e.what();
  } catch (...) {
    report.detail = "unknown exception";
    Log_Level(kLogError,
              "unknown exception whilst attempting to execute method '%s' on "
              "plugin '%s'\n",
              method.c_str(), Name().c_str());
  }
  return false;
}

}  // namespace bootcrank
