// The boot profiling log, "/var/log/sysboot.log" below the host root.
//
// A full run replaces the log with the host's boot time up to the program's
// start, one line per plugin of the run list with its activation times, and
// the run's settings; a daemon run appends a daemon section to the existing
// log. The file is always replaced through afstream, so a reader never sees a
// half-written log and a symbolic link at its place is refused, not
// followed; the temporary file that a killed run left is removed first.
//
// Neither writer lets an exception escape nor changes the run's outcome:
// failures are logged ("unable to open profiling log (...)" at level 110,
// "unable to log profiling information: ..." at level 115, and the daemon
// variants) and the old log stays as it was.
//
// Thread-safety: main thread only, after the executor's workers have been
// joined (the activation times no longer change).
#ifndef BOOTCRANK_RUNCONTROL_PROFILING_LOG_H_
#define BOOTCRANK_RUNCONTROL_PROFILING_LOG_H_

#include <ostream>

#include "plugins/plugin.h"
#include "base/settings.h"

namespace bootcrank {

// Writes `time` as UTC "YYYY-MM-DD hh:mm:ss.uuuuuu", every number zero-padded
// to its width (the zero time is 1970-01-01 00:00:00.000000). Leaves the
// stream's fill character set to '0'.
void FormatTimestamp(std::ostream& out, const TimeValue& time);

// Replaces the log with the full form. `uptimeSeconds` is the host's uptime
// at the program's start; it is written in microseconds.
void WriteProfilingLog(const TimeValue& start, const TimeValue& end, long uptimeSeconds,
                       const RunList& runList, const Settings& settings);

// Appends the daemon section to the current log. A missing or empty log is a
// failure ("unable to log daemon profiling information: failed to write to
// temp file: ..."), and nothing is written.
void AppendDaemonProfilingLog(const TimeValue& start, const TimeValue& end, const RunList& runList,
                              const Settings& settings);

}  // namespace bootcrank

#endif  // BOOTCRANK_RUNCONTROL_PROFILING_LOG_H_
