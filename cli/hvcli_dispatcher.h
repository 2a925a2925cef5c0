// HvcliDispatcher: the CLI framework's dispatcher with the host CLI's
// extension directories, and DispatchCommand, which runs one command line
// received by the executor process.
//
// Thread-safety: only the executor process's event-loop thread dispatches;
// the single dispatcher is built lazily without a lock. The extension
// directory table is built once, thread-safely.
#ifndef BOOTCRANK_CLI_HVCLI_DISPATCHER_H_
#define BOOTCRANK_CLI_HVCLI_DISPATCHER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/autocli_dispatcher.h"

// Marks the program as a host CLI dispatcher; points at 0x5CA1AB1E.
extern "C" const uint32_t* __hvclic_magic;

namespace bootcrank {

class HvcliDispatcher : public Toolbelt::AutoCli::Dispatcher {
 public:
  // Registers the extension directories in order; a directory that cannot be
  // added (a standard exception) is logged and skipped. Other errors
  // propagate.
  HvcliDispatcher();
  ~HvcliDispatcher() override;

  // The process's dispatcher, built on the first call. A construction that
  // throws stores nothing, so the next call tries again.
  static HvcliDispatcher& Instance();

  // The four extension directories below the host root, in registration
  // order; built on the first call.
  static const std::vector<std::string>& ExtensionDirectories();
};

// Parses and runs one command line. Returns normally when the command ran
// without errors or there was nothing to run; throws (Exception, or whatever
// the framework throws) when the line cannot be parsed or the command
// reports errors. Parse and execution errors are logged here.
void DispatchCommand(const std::string& commandLine);

}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_HVCLI_DISPATCHER_H_
