// Any bytes as the debug injection file: entries, or the escape error that
// ends reading, never a crash or another exception.
#include <boost/token_functions.hpp>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "plugins/debug_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    for (const bootcrank::DebugEntry& e : bootcrank::ReadDebugEntries(in)) {
      // Every field is there, and none holds the colon that separates them.
      if (e.name.empty() || e.command.empty() || e.requiredBarriers.empty() ||
          e.providedBarriers.empty() || e.name.find(':') != std::string::npos ||
          e.command.find(':') != std::string::npos) {
        __builtin_trap();
      }
    }
  } catch (const boost::escaped_list_error&) {
  }
  return 0;
}
