#include "cli/autocli_dispatcher.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "host/error_text.h"
#include "host/files.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/shared_library.h"

struct hvcli_call {
  const Toolbelt::AutoCli::CommandInput* input;
  Toolbelt::AutoCli::CommandOutput* output;
};

namespace Toolbelt {
namespace AutoCli {

// Commands of the extension being loaded; merged only when its registration
// function succeeds. `loading` is false outside a registration.
struct Dispatcher::Registry {
  Dispatcher* dispatcher;
  bool loading = false;
  std::map<std::string, Command> pending;
};

namespace {

std::string Join(const std::list<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) {
    if (!joined.empty()) joined += ' ';
    joined += word;
  }
  return joined;
}

// A path is words of non-blank characters separated by single blanks.
bool WellFormedPath(const char* path) {
  if (path == nullptr || *path == '\0' || *path == ' ') return false;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\t' || *p == '\n' || *p == '\r') return false;
    if (*p == ' ' && (p[1] == ' ' || p[1] == '\0')) return false;
  }
  return true;
}

const char* Parameter(hvcli_call* call, const char* name) {
  if (name == nullptr) return nullptr;
  const std::string* value = call->input->FindParameter(name);
  return value != nullptr ? value->c_str() : nullptr;
}

void AddError(hvcli_call* call, const char* text) {
  call->output->AddError(text != nullptr ? text : "");
}

void AddResult(hvcli_call* call, const char* name, const char* value) {
  call->output->AddResult(name != nullptr ? name : "", value != nullptr ? value : "");
}

size_t HostPathInto(const char* path, char* buffer, size_t size) {
  if (path == nullptr || path[0] != '/') return static_cast<size_t>(-1);
  std::string resolved = bootcrank::host::HostPath(path);
  if (size > 0) {
    size_t copied = std::min(resolved.size(), size - 1);
    std::memcpy(buffer, resolved.data(), copied);
    buffer[copied] = '\0';
  }
  return resolved.size();
}

}  // namespace

Dispatcher::Dispatcher() : registry_(new Registry) {
  registry_->dispatcher = this;
  host_.abi_version = HVCLI_EXTENSION_ABI_VERSION;
  host_.size = sizeof(hvcli_host);
  host_.registry = reinterpret_cast<hvcli_registry*>(registry_.get());
  host_.add_command = &Dispatcher::AddCommand;
  host_.parameter = &Parameter;
  host_.add_error = &AddError;
  host_.add_result = &AddResult;
  host_.host_path = &HostPathInto;
}

Dispatcher::~Dispatcher() {
  commands_.clear();
  // Unloaded in the reverse order of loading.
  while (!libraries_.empty()) libraries_.pop_back();
}

int Dispatcher::AddCommand(hvcli_registry* registry, const char* path,
                           const char* const* parameters, hvcli_handler handler, void* context) {
  Registry* self = reinterpret_cast<Registry*>(registry);
  if (self == nullptr || !self->loading || handler == nullptr || !WellFormedPath(path)) {
    return -1;
  }
  if (self->dispatcher->commands_.count(path) != 0 || self->pending.count(path) != 0) {
    return -1;
  }
  Command command{{}, handler, context};
  for (const char* const* p = parameters; p != nullptr && *p != nullptr; ++p) {
    command.parameters.emplace_back(*p);
  }
  self->pending.emplace(path, std::move(command));
  return 0;
}

void Dispatcher::AddExternalDirectory(const std::string& directory) {
  directories_.push_back(directory);
  std::vector<std::string> entries;
  if (int error = bootcrank::host::ListDirectory(directory, &entries)) {
    throw std::runtime_error("cannot open CLI extension directory " + directory + ": " +
                             bootcrank::host::ErrorText(error));
  }
  std::vector<std::string> names;
  for (const std::string& name : entries) {
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string file = directory + "/" + name;
    if (!bootcrank::host::IsRegularFile(file)) continue;
    LoadExtension(file);
  }
}

void Dispatcher::LoadExtension(const std::string& file) {
  auto library = std::make_unique<bootcrank::host::SharedLibrary>(file);
  if (!library->Loaded()) {
    Log_Level(kLogWarning, "unable to load CLI extension %s: %s\n", file.c_str(),
              library->Error().c_str());
    return;
  }
  auto registerFunction =
      reinterpret_cast<hvcli_register_function>(library->Symbol(HVCLI_EXTENSION_REGISTER_SYMBOL));
  if (registerFunction == nullptr) {
    Log_Level(kLogWarning, "unable to load CLI extension %s: no function %s\n", file.c_str(),
              HVCLI_EXTENSION_REGISTER_SYMBOL);
    return;
  }
  registry_->pending.clear();
  registry_->loading = true;
  int result = registerFunction(&host_);
  registry_->loading = false;
  if (result != 0) {
    Log_Level(kLogWarning, "unable to load CLI extension %s: registration returned %d\n",
              file.c_str(), result);
    registry_->pending.clear();
    return;
  }
  commands_.insert(registry_->pending.begin(), registry_->pending.end());
  registry_->pending.clear();
  libraries_.push_back(std::move(library));
}

std::vector<std::string> Dispatcher::GetCommandPaths() const {
  std::vector<std::string> paths;
  for (const auto& entry : commands_) paths.push_back(entry.first);
  return paths;
}

std::vector<std::string> Dispatcher::CheckCommand(const CommandInput& input) const {
  const std::string path = Join(input.GetCommandPath());
  auto found = commands_.find(path);
  if (found == commands_.end()) return {"Unknown command or namespace: " + path};
  const Command& command = found->second;
  std::vector<std::string> errors;
  for (const std::string& name : command.parameters) {
    if (input.FindParameter(name) == nullptr) {
      errors.push_back("Missing parameter --" + name + " for command '" + path + "'");
    }
  }
  for (const auto& parameter : input.GetParameters()) {
    if (std::find(command.parameters.begin(), command.parameters.end(), parameter.first) ==
        command.parameters.end()) {
      errors.push_back("Unknown parameter --" + parameter.first + " for command '" + path + "'");
    }
  }
  return errors;
}

void Dispatcher::ExecuteCommand(std::shared_ptr<CommandInput> input,
                                std::shared_ptr<CommandOutput> output) {
  std::vector<std::string> errors = CheckCommand(*input);
  for (const std::string& error : errors) output->AddError(error);
  if (!errors.empty()) return;
  const std::string path = Join(input->GetCommandPath());
  const Command& command = commands_.find(path)->second;
  hvcli_call call{input.get(), output.get()};
  try {
    command.handler(&call, command.context);
  } catch (const std::exception& e) {
    output->AddError("Command '" + path + "' failed: " + e.what());
  } catch (...) {
    output->AddError("Command '" + path + "' failed with an unknown exception");
  }
}

}  // namespace AutoCli
}  // namespace Toolbelt
