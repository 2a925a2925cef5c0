// The "metadata" and "operations" tables of a native plugin, read in a child
// process.
//
// Loading a shared object runs its ELF constructors, and reading its tables
// follows pointers that the object chose: either may crash, exit, hang or
// scribble. So this program never loads a plugin itself. The native
// executor program, run as `nativeExecutor <library> <name> --describe`,
// loads it and answers with what the tables hold (the answer's format is
// described in native_executor/native_executor.c); a child that dies, hangs
// or answers garbage makes a load failure of that one file.
//
// Thread-safe: no shared state.
#ifndef BOOTCRANK_PLUGINS_NATIVE_TABLES_H_
#define BOOTCRANK_PLUGINS_NATIVE_TABLES_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bootcrank {

// What the tables hold. The fields after providesBarriers are filled only
// from version 3 on; a null string or list reads as empty.
struct NativeTables {
  bool hasHostProfileEntry = false;  // the operations table's second slot is set
  uint32_t version = 0;              // 1 to 4
  std::vector<std::string> requiresBarriers;
  std::vector<std::string> providesBarriers;
  std::string pluginVersion;
  bool runOnce = false;  // the run-once byte is not 0
  std::vector<std::string> requiredFlags;
  std::vector<std::string> disablingFlags;
};

// How long the child may take. Loading an object and copying two tables takes
// milliseconds; five seconds leave room for a loaded host at boot while a
// constructor that never returns delays the boot by no more than that.
constexpr std::chrono::seconds kNativeTablesTimeLimit(5);
// The longest answer taken (far more than any real plugin's names).
constexpr size_t kNativeTablesAnswerLimit = 16 << 20;

// Runs `program` (the native executor program's full path) on the object at
// `path`, plugin `name`, and returns its tables. Throws what
// ParseNativeTables throws, and InvalidPluginException(path, "reading its
// tables in nativeExecutor: " + what happened) when the child cannot be
// started, is killed by a signal, exits with a non-zero status or without an
// answer, or does not answer within kNativeTablesTimeLimit (it is killed).
NativeTables ReadNativeTables(const std::string& program, const std::string& name,
                              const std::string& path);

// The tables in `answer`, the whole output of the executor for the object at
// `path`. Throws, with the loader's error text that the answer carries:
//   InvalidPluginException(path, text)                  the object did not load;
//   Exception("Failed loading symbol: " + symbol + " Located at: " + path +
//             " Reason: " + text)                       a table is missing;
//   InvalidPluginException(path, "Unsupported API version")  version not 1 to 4;
//   InvalidPluginException(path, "reading its tables in nativeExecutor:
//             malformed answer: ...")                   anything else.
NativeTables ParseNativeTables(const std::string& answer, const std::string& path);

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_NATIVE_TABLES_H_
