// The CLI framework's dispatcher: loads command extensions from directories
// and runs one command at a time.
//
// Extensions are shared objects with the C interface of
// <bootcrank/hvcli_extension.h>. Commands are keyed by their path joined with
// single blanks ("file write"); the first extension to register a path keeps
// it.
//
// Not thread-safe: one thread adds directories and executes commands.
#ifndef BOOTCRANK_CLI_AUTOCLI_DISPATCHER_H_
#define BOOTCRANK_CLI_AUTOCLI_DISPATCHER_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bootcrank/hvcli_extension.h"
#include "cli/autocli_command.h"
#include "host/shared_library.h"

namespace Toolbelt {
namespace AutoCli {

class Dispatcher {
 public:
  Dispatcher();
  virtual ~Dispatcher();  // unloads the extensions
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // Loads every "*.so" of `directory`, in name order, and registers its
  // commands. Throws std::runtime_error, naming the directory and the system
  // error, when the directory cannot be opened. An object that cannot be
  // loaded, lacks the registration function or rejects the registration is
  // logged as a warning and skipped; the others are still loaded.
  void AddExternalDirectory(const std::string& directory);

  // Runs the command that `input` names. Every failure, including an unknown
  // command path, a missing or unknown parameter and an exception from the
  // command, becomes an error in `output`.
  void ExecuteCommand(std::shared_ptr<CommandInput> input, std::shared_ptr<CommandOutput> output);

  // What ExecuteCommand would report before running anything for `input`:
  // an unknown command path, missing or unknown parameters. Empty when the
  // command would run. Runs nothing.
  std::vector<std::string> CheckCommand(const CommandInput& input) const;

  // The directories added, in order, including those that failed.
  const std::vector<std::string>& GetExternalDirectories() const { return directories_; }
  // The registered command paths, sorted.
  std::vector<std::string> GetCommandPaths() const;

 private:
  struct Command {
    std::vector<std::string> parameters;
    hvcli_handler handler;
    void* context;
  };
  struct Registry;  // what an extension's hvcli_host::registry points at
  static int AddCommand(hvcli_registry* registry, const char* path, const char* const* parameters,
                        hvcli_handler handler, void* context);
  void LoadExtension(const std::string& file);

  std::map<std::string, Command> commands_;
  // The loaded extensions, unloaded in reverse order by the destructor.
  std::vector<std::unique_ptr<bootcrank::host::SharedLibrary>> libraries_;
  std::vector<std::string> directories_;
  std::unique_ptr<Registry> registry_;
  hvcli_host host_;  // the table every extension receives
};

}  // namespace AutoCli
}  // namespace Toolbelt

#endif  // BOOTCRANK_CLI_AUTOCLI_DISPATCHER_H_
