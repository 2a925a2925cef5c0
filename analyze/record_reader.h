// Reading a BootRecord from a file: a JSON boot record or a profiling log,
// told apart by their first bytes.
//
// The boot record reader fills the record as the tokens of the JSON text go
// by (a SAX handler fed by ScanJson), without building a document first:
// `fleet` reads thousands of records with it. It ignores members it does not know, and
// tolerates missing optional ones; a record needs "schema" (refused when its
// major version is newer than kRecordSchema) and a name for every plugin and
// barrier. A member of the wrong type is an error naming its place
// ("plugins[3].started: expected an integer, not a string").
//
// Thread-safety: the functions keep no state; different threads may read
// different records.
#ifndef BOOTCRANK_ANALYZE_RECORD_READER_H_
#define BOOTCRANK_ANALYZE_RECORD_READER_H_

#include <string>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

// Reads the file at `path`. Throws RecordError, whose text starts with the
// path, when the file cannot be read or is neither a boot record nor a
// profiling log, or when its content is not valid. A `lean` reading leaves
// out what statistics over many records do not need: each plugin's
// source, requires, provides, commands, error and skip reason.
BootRecord ReadBootRecord(const std::string& path, bool lean = false);

// Parses `text`, the content of the file `path` (used in messages only).
BootRecord ParseBootRecord(const std::string& text, const std::string& path, bool lean = false);

// The JSON boot record form alone.
BootRecord ParseRecordJson(const std::string& text, const std::string& path, bool lean = false);

// The whole content of the file at `path`; throws RecordError with the
// system's error text.
std::string ReadWholeFile(const std::string& path);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_RECORD_READER_H_
