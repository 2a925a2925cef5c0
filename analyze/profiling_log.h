// The profiling log ("/var/log/sysboot.log") as a BootRecord.
//
// The log's first section, written by a full run, gives the kernel's
// uptime, one "[start - end] sysboot: name" line per plugin of the run list,
// the run's start and end and a few settings. Daemon sections that later
// daemon runs appended are other runs and are not read. A plugin whose two
// times are the zero time did not run. The record gets no edges, ready
// times, workers, kinds or results: BootRecord::Missing() says so.
#ifndef BOOTCRANK_ANALYZE_PROFILING_LOG_H_
#define BOOTCRANK_ANALYZE_PROFILING_LOG_H_

#include <string>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

// Whether `text` starts the way a profiling log does.
bool LooksLikeProfilingLog(const std::string& text);

// Parses the log; throws RecordError naming the path and line of a line
// that is not what the log holds.
BootRecord ParseProfilingLog(const std::string& text, const std::string& path);

// "2026-12-04 09:08:13.004217" (UTC) in microseconds since the epoch;
// false when `text` is not such a time, or not one from 1970 to 3000.
bool ParseLogTimestamp(const std::string& text, Micros* out);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_PROFILING_LOG_H_
