// The JSON plugin descriptor format: reading and checking one descriptor.
//
// A descriptor is one JSON document (comments allowed):
//
//   { "metadata": { "version": 3, "requires": [...], "provides": [...],
//                   "required_flags": [...], "disabling_flags": [...],
//                   "run_once": false, "plugin_version": "1.0" },
//     "operations": { "start": ["cli command", ...],
//                     "apply_host_profile": ["cli command", ...] } }
//
// Keys of a later interface version than the descriptor declares are not
// read at all; unknown keys are ignored anywhere.
//
// Thread-safe: pure functions of their input.
#ifndef BOOTCRANK_PLUGINS_JSON_DESCRIPTOR_H_
#define BOOTCRANK_PLUGINS_JSON_DESCRIPTOR_H_

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace bootcrank {

struct JSONDescriptor {
  int32_t apiVersion = -1;                    // 1 to 4
  std::vector<std::string> requiredBarriers;  // "requires", in order
  std::vector<std::string> providedBarriers;  // "provides", in order
  std::set<std::string> requiredFlags;        // version 3 and later
  std::set<std::string> disablingFlags;       // version 3 and later
  bool runOnce = false;                       // version 3 and later
  std::string pluginVersion;                  // version 3 and later
  std::vector<std::string> startCommands;
  std::vector<std::string> hostProfileCommands;  // version 2 and later
};

// Descriptor files larger than this are refused like unparsable ones.
constexpr size_t kMaxDescriptorBytes = 64 * 1024 * 1024;

// Parses and checks the descriptor text `text` of the file `path`. Checks run
// in a fixed order and the first fault throws InvalidPluginException(path,
// reason); any input at all ends in a result or that exception.
JSONDescriptor ParseJSONDescriptor(const std::string& text, const std::string& path);

// Reads the file at `path` and parses it; a file that cannot be opened fails
// with the reason "no such file or directory".
JSONDescriptor LoadJSONDescriptor(const std::string& path);

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_JSON_DESCRIPTOR_H_
