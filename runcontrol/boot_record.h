// The boot record: one JSON file per run that says what the run did, for
// bootcrank-analyze and for administrators (its format is documented in
// bootcrank-record(5)).
//
// A run in start or stop order (init mode, a plain run, a daemon run) writes
// HostPath of "/var/log/bootcrank/<UTC start time>.json" at its very end,
// also when a termination signal ended it; a dependency dump and an invoke
// run write none. The file is replaced atomically, and only the newest
// kKeptBootRecords records stay.
//
// Thread-safety: main thread only, after the executor's workers are gone.
#ifndef BOOTCRANK_RUNCONTROL_BOOT_RECORD_H_
#define BOOTCRANK_RUNCONTROL_BOOT_RECORD_H_

#include <string>

#include "base/settings.h"
#include "runcontrol/boot_run.h"
#include "runcontrol/command_line.h"

namespace bootcrank {

constexpr int kBootRecordSchema = 1;
constexpr size_t kKeptBootRecords = 20;

// The record's file name for a run that started at `start`:
// "YYYYMMDDTHHMMSS.uuuuuuZ.json" (UTC), so that names sort by time.
std::string BootRecordName(const TimeValue& start);

// The record of `run` as JSON text.
std::string BootRecordText(const Settings& settings, const CommandLine& line, const BootRun& run,
                           int exitStatus);

// Writes the record of `run` (nothing for a dump or an invoke run) and drops
// the oldest records beyond kKeptBootRecords. Never throws: a record that
// cannot be written is a level-115 message, and the run's status stays.
void WriteBootRecord(const Settings& settings, const CommandLine& line, const BootRun& run,
                     int exitStatus);

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_BOOT_RECORD_H_
