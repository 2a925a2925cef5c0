#include "cli/hvcli_dispatcher.h"

#include <exception>
#include <list>

#include "cli/autocli_option_parser.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "base/exception.h"

namespace {
const uint32_t kHvclicMagic = 0x5CA1AB1E;
}  // namespace

// Exported from the program (linked with ENABLE_EXPORTS); `used` keeps it
// even though the program never reads it.
extern "C" {
__attribute__((visibility("default"), used)) const uint32_t* __hvclic_magic = &kHvclicMagic;
}

namespace bootcrank {

namespace {

std::shared_ptr<HvcliDispatcher> theDispatcher;  // empty until the first command runs

}  // namespace

const std::vector<std::string>& HvcliDispatcher::ExtensionDirectories() {
  // A function-local static: built once, thread-safely, destroyed at exit.
  static const std::vector<std::string> directories = [] {
    std::vector<std::string> paths;
    for (const char* directory : host::kCliExtensionDirectoryPaths) {
      paths.push_back(host::HostPath(directory));
    }
    return paths;
  }();
  return directories;
}

HvcliDispatcher::HvcliDispatcher() {
  for (const std::string& directory : ExtensionDirectories()) {
    try {
      AddExternalDirectory(directory);
    } catch (const std::exception& e) {
      Log_Level(kLogError, "unable to add external directory to the hvcli dispatcher: %s\n",
                e.what());
    }
  }
}

HvcliDispatcher::~HvcliDispatcher() = default;

HvcliDispatcher& HvcliDispatcher::Instance() {
  if (!theDispatcher) theDispatcher = std::make_shared<HvcliDispatcher>();
  return *theDispatcher;
}

void DispatchCommand(const std::string& commandLine) {
  Toolbelt::AutoCli::OptionParser parser;
  if (parser.ParseString(commandLine)) return;

  std::vector<std::string> parseErrors = parser.GetParseErrors();
  if (!parseErrors.empty()) {
    for (const std::string& error : parseErrors) {
      Log_Level(kLogError, "Executor was unable to parse command: %s\n", error.c_str());
    }
    throw Exception("unable to parse command: " + commandLine);
  }

  auto input = Toolbelt::AutoCli::CommandInput::New();
  auto output = Toolbelt::AutoCli::CommandOutput::New();
  std::vector<std::pair<std::string, std::string>> parameters = parser.GetCommandParameters();
  std::list<std::string> path = parser.GetCommandPath();

  const std::string dispatcherName = "bootcrank";
  input->SetDispatcher(dispatcherName);
  input->SetCommandPath(path);
  for (const auto& parameter : parameters) input->AddParameter(parameter.first, parameter.second);

  HvcliDispatcher::Instance().ExecuteCommand(input, output);

  if (output->HasError()) {
    for (const std::string& error : output->GetErrors()) {
      Log_Level(kLogError, "execution of '%s' failed : %s\n", commandLine.c_str(), error.c_str());
    }
    throw Exception("execution of '" + commandLine + "' failed");
  }
}

}  // namespace bootcrank
