// The debug injection file: shell commands placed into the boot order by
// barrier names, one per line.
//
//   <name>:<requires>:<provides>:<command>
//
// Lines are trimmed; blank lines are skipped. Empty fields are dropped (so
// "::" acts as ":"), and a line must then have exactly four fields, else it
// is logged at level 125 with its line number and skipped; a colon cannot be
// quoted, so a command containing one always makes the line malformed.
// <requires> and <provides> are comma lists: every item counts (empty ones
// too); '"' and '\'' switch quoting on and off (commas inside quotes belong
// to the item); a backslash escapes '\\', ',', a quote character, or gives a
// newline with 'n'.
//
// Thread-safe: reads its input only (and logs).
#ifndef BOOTCRANK_PLUGINS_DEBUG_CONFIG_H_
#define BOOTCRANK_PLUGINS_DEBUG_CONFIG_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace bootcrank {

struct DebugEntry {
  std::string name;
  std::vector<std::string> requiredBarriers;
  std::vector<std::string> providedBarriers;
  std::string command;
  int lineNumber = 0;  // in the file, from 1
};

// The entries of the host's "/etc/quarro/bootcrank/debug.conf", in file
// order; a file that cannot be opened gives none, without a message.
// Throws a std::runtime_error ("unknown escape sequence", "cannot end with
// escape") for a bad escape in a requires or provides field; the entries read
// before it are lost with it.
std::vector<DebugEntry> ReadDebugEntries();

// The same for the contents of `in`, read until its end or first error.
std::vector<DebugEntry> ReadDebugEntries(std::istream& in);

// A line that ReadDebugEntries logged as malformed: its number and its
// trimmed text.
struct MalformedDebugLine {
  int lineNumber;
  std::string text;
};

// ReadDebugEntries(in), also appending each malformed line to `malformed`.
std::vector<DebugEntry> ReadDebugEntries(std::istream& in,
                                         std::vector<MalformedDebugLine>* malformed);

// The debug injection file read once and kept, for a reader that consults it
// many times while it does not change (discovery reads it for every file).
// Each Read after the first logs the malformed-line messages again, in the
// same order, so the log is the one that reading the file each time gives.
class DebugEntryCache {
 public:
  // The entries of the host's file; the first call reads it (and may throw
  // like ReadDebugEntries, leaving nothing cached), later ones replay.
  const std::vector<DebugEntry>& Read();

 private:
  bool loaded_ = false;
  std::vector<DebugEntry> entries_;
  std::vector<MalformedDebugLine> malformed_;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_DEBUG_CONFIG_H_
