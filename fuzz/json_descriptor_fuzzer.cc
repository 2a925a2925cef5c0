// Any bytes as a JSON plugin descriptor: the result is a descriptor or an
// InvalidPluginException, never a crash, a hang or another exception.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/exception.h"
#include "plugins/json_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    bootcrank::JSONDescriptor d = bootcrank::ParseJSONDescriptor(text, "/fuzz/descriptor.json");
    if (d.apiVersion < 1 || d.apiVersion > 4) __builtin_trap();
    if (d.apiVersion < 3 && (d.runOnce || !d.pluginVersion.empty() || !d.requiredFlags.empty() ||
                             !d.disablingFlags.empty())) {
      __builtin_trap();
    }
    if (d.apiVersion < 2 && !d.hostProfileCommands.empty()) __builtin_trap();
  } catch (const bootcrank::InvalidPluginException&) {
  }
  return 0;
}
