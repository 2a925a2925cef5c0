// Any bytes as the native executor's answer about a plugin's tables: the
// result is tables of version 1 to 4 or a bootcrank::Exception (a load
// failure or a malformed answer), never a crash, a hang or another exception.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/exception.h"
#include "plugins/native_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string answer(reinterpret_cast<const char*>(data), size);
  try {
    bootcrank::NativeTables t = bootcrank::ParseNativeTables(answer, "/fuzz/libx.so");
    if (t.version < 1 || t.version > 4) __builtin_trap();
    if (t.version < 3 && (t.runOnce || !t.pluginVersion.empty() || !t.requiredFlags.empty() ||
                          !t.disablingFlags.empty())) {
      __builtin_trap();
    }
  } catch (const bootcrank::Exception&) {
  }
  return 0;
}
