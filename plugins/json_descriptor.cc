#include "plugins/json_descriptor.h"

#include <cmath>
#include <limits>
#include <utility>
#include <nlohmann/json.hpp>

#include "host/read_file.h"
#include "base/exception.h"

namespace bootcrank {
namespace {

using nlohmann::json;

// Throws the load failure of one descriptor.
class Checker {
 public:
  explicit Checker(const std::string& path) : path_(path) {}

  [[noreturn]] void Fail(const std::string& reason) const {
    throw InvalidPluginException(path_, reason);
  }

  // `object[key]` or null when the key is absent.
  static const json* Find(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
  }

  // A list of barrier or flag names under `key` of "metadata".
  std::vector<std::string> NameList(const json* value, const char* key) const {
    if (value == nullptr || !value->is_array()) {
      Fail(std::string("metadata is corrupt (unable to parse ") + key + ")");
    }
    std::vector<std::string> names;
    for (const json& element : *value) {
      if (!element.is_string()) Fail(std::string(key) + " tag is not a string");
      names.push_back(element.get<std::string>());
    }
    return names;
  }

  std::vector<std::string> Commands(const json& array) const {
    std::vector<std::string> commands;
    for (const json& element : array) {
      if (!element.is_string()) Fail("command is not a string");
      commands.push_back(element.get<std::string>());
    }
    return commands;
  }

 private:
  const std::string& path_;
};

// The version number truncated toward zero; values that no 32-bit integer
// holds map to 0, which no interface version uses.
int32_t TruncatedVersion(const json& version) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  if (version.is_number_unsigned()) {
    uint64_t value = version.get<uint64_t>();
    return value <= static_cast<uint64_t>(kMax) ? static_cast<int32_t>(value) : 0;
  }
  if (version.is_number_integer()) {
    int64_t value = version.get<int64_t>();
    return value >= kMin && value <= kMax ? static_cast<int32_t>(value) : 0;
  }
  double value = std::trunc(version.get<double>());
  if (!std::isfinite(value) || value < kMin || value > kMax) return 0;
  return static_cast<int32_t>(value);
}

}  // namespace

JSONDescriptor ParseJSONDescriptor(const std::string& text, const std::string& path) {
  Checker check(path);
  // The parser is iterative (no recursion on nesting) and reports every
  // syntax error as a discarded value instead of throwing.
  const json root = json::parse(text, nullptr, /*allow_exceptions=*/false,
                                /*ignore_comments=*/true);
  if (!root.is_object()) check.Fail("plugin root is not an object");

  const json* metadata = Checker::Find(root, "metadata");
  if (metadata == nullptr || !metadata->is_object()) {
    check.Fail("invalid metadata interface");
  }

  JSONDescriptor descriptor;
  const json* version = Checker::Find(*metadata, "version");
  if (version == nullptr || !version->is_number()) {
    check.Fail("metadata is corrupt (unable to parse version)");
  }
  descriptor.apiVersion = TruncatedVersion(*version);
  if (descriptor.apiVersion < 1 || descriptor.apiVersion > 4) {
    check.Fail("Unsupported API version");
  }

  descriptor.requiredBarriers = check.NameList(Checker::Find(*metadata, "requires"), "requires");
  descriptor.providedBarriers = check.NameList(Checker::Find(*metadata, "provides"), "provides");

  if (descriptor.apiVersion >= 3) {
    const std::pair<const char*, std::set<std::string>*> flagLists[] = {
        {"required_flags", &descriptor.requiredFlags},
        {"disabling_flags", &descriptor.disablingFlags}};
    for (const auto& [key, into] : flagLists) {
      const json* flags = Checker::Find(*metadata, key);
      if (flags == nullptr) continue;  // optional
      for (std::string& flag : check.NameList(flags, key)) {
        into->insert(std::move(flag));
      }
    }
    const json* runOnce = Checker::Find(*metadata, "run_once");
    if (runOnce == nullptr || !runOnce->is_boolean()) {
      check.Fail("metadata is corrupt (unable to parse run_once)");
    }
    descriptor.runOnce = runOnce->get<bool>();
    const json* pluginVersion = Checker::Find(*metadata, "plugin_version");
    if (pluginVersion == nullptr || !pluginVersion->is_string()) {
      check.Fail("metadata is corrupt (unable to parse plugin_version)");
    }
    descriptor.pluginVersion = pluginVersion->get<std::string>();
  }

  const json* operations = Checker::Find(root, "operations");
  if (operations == nullptr || !operations->is_object()) {
    check.Fail("invalid operations interface");
  }
  const json* start = Checker::Find(*operations, "start");
  if (start == nullptr || !start->is_array()) {
    check.Fail("operations is corrupt (unable to parse start)");
  }
  descriptor.startCommands = check.Commands(*start);

  if (descriptor.apiVersion >= 2) {
    const json* hostProfile = Checker::Find(*operations, "apply_host_profile");
    if (hostProfile != nullptr) {
      if (!hostProfile->is_array()) {
        check.Fail("operations is corrupt (unable to parse apply-host-profile)");
      }
      descriptor.hostProfileCommands = check.Commands(*hostProfile);
    }
  }
  return descriptor;
}

JSONDescriptor LoadJSONDescriptor(const std::string& path) {
  std::string text;
  switch (host::ReadFile(path, kMaxDescriptorBytes, &text)) {
    case host::ReadResult::kNotOpened:
      throw InvalidPluginException(path, "no such file or directory");
    case host::ReadResult::kComplete: break;
    case host::ReadResult::kReadError:  // a directory, an I/O error
    case host::ReadResult::kTooLarge:
      throw InvalidPluginException(path, "plugin root is not an object");
  }
  return ParseJSONDescriptor(text, path);
}

}  // namespace bootcrank
