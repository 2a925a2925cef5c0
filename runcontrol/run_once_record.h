// The run-once record: which plugin versions have already run on this host.
//
// On disk it is "/bootbank/bootcrnk.gz" below the host root, a gzip stream
// whose content is one line in the form of a boot option:
//
//   bootcrank.run-once=<key>,<key>,...,\n
//
// with the keys of the run-once set in set order, each followed by ",". The
// empty set is "bootcrank.run-once=\n". The file is replaced as a whole
// (host/replace_file.h), keeping its mode: a full boot bank, a crash or a
// kill during the write leaves the old record, and the next run removes the
// temporary file that a killed run left.
//
// Thread-safety: main thread only (before the executor's workers exist, or
// after they have been joined).
#ifndef BOOTCRANK_RUNCONTROL_RUN_ONCE_RECORD_H_
#define BOOTCRANK_RUNCONTROL_RUN_ONCE_RECORD_H_

#include <istream>
#include <set>
#include <string>

namespace bootcrank {

// Inserts the keys of the record into `runOnceSet`. A record that is missing,
// unreadable, not gzip data or lacks the "bootcrank.run-once=" prefix adds
// nothing; reading never reports and never throws.
void ReadRunOnceRecord(std::set<std::string>& runOnceSet);

// The same for the decompressed record text in `in`: after the prefix, every
// piece between commas, trimmed of white space (" \t\n\r\v\f"), that is not
// empty becomes a key. Never throws.
void ReadRunOnceRecord(std::istream& in, std::set<std::string>& runOnceSet);

// Replaces the record with the keys of `runOnceSet`. A record that cannot be
// written (a full or read-only boot bank, a symbolic link or a FIFO at its
// place) is a level-115 message ("unable to write run-once record (<path>):
// <error>.") and nothing else; the old record stays. A failure of the
// compression layer propagates as an exception, before the old record is
// touched.
void WriteRunOnceRecord(const std::set<std::string>& runOnceSet);

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_RUN_ONCE_RECORD_H_
