// The host logging library: leveled messages to standard output and syslog.
//
// Every message of the program goes through Log_Level with one of the levels
// below. Standard output receives one record per message, written with a
// single write(2) so that concurrent threads never interleave and a fork in
// another thread never inherits a half-written record:
//
//   2026-12-04T09:08:13.004Z bootcrank[4242]: warning: <message>
//
// (UTC time with milliseconds, identity and process id, a tag, ": ", the text;
// a text that does not end in "\n" gets one). The same text goes to syslog,
// facility daemon.
//
// Thread-safe: any thread may log at any time. The syslog call is made under
// a mutex that a fork handler takes before fork(2) and releases in both
// processes afterwards, so a child forked while another thread logs can log
// too.
#ifndef BOOTCRANK_HOST_LOG_H_
#define BOOTCRANK_HOST_LOG_H_

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>

#include "host/dictionary.h"

// Message levels used by the program.
enum {
  kLogError = 110,    // an operation failed and the program reports it
  kLogWarning = 115,  // something was ignored or degraded; the run goes on
  kLogInfo = 125,     // progress and verbose information
};

// One message at `level` (110 error, 115 warning, 125 info; other values are
// mapped to the nearest of these). `format` is passed to vsnprintf unchanged.
void Log_Level(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A warning without a level (tag "warning").
void Warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the message with the tag "panic" and ends the process (abort).
[[noreturn]] void Panic(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logging set-up. An output handle is opaque to callers.
struct LogOutput;
void Log_SetProductInfo(const char* name, const char* version, const char* buildNumber,
                        const char* compilationOption);
// Opens syslog under "log.syslogID" (falling back to `identity`). Returns false
// when the dictionary asks for something the library cannot do.
bool Log_InitWithSyslogInt(const char* identity, Dictionary* dict, int flags);
// A standard-output output configured from "log.stdoutLevel",
// "log.useTimeStamps.stdio" and "log.useMilliseconds.stdio"; null on a bad
// configuration.
LogOutput* Log_NewStdioOutput(const char* identity, Dictionary* dict, int flags);
bool Log_AddOutput(LogOutput* output);
// Level for a standard-error copy of messages; -1 turns it off (the default).
void Log_SetStderrLevel(int level);

// printf into a newly malloc'ed string that the caller frees; null on failure.
// When `length` is not null it receives the string's length.
char* Str_SafeVasprintf(size_t* length, const char* format, va_list args);

namespace bootcrank {
namespace host {

// A record with an explicit tag ("alert", "progress", "status", ...) and a
// syslog priority (LOG_ALERT, LOG_INFO, ...). Used by the boot screen and the
// system alert; never adds a level of its own.
void LogRecord(const char* tag, int syslogPriority, const std::string& text);

// One syslog message at `priority`, under the fork-safe syslog mutex.
void SyslogText(int priority, const std::string& text);

// While an object of this class exists, every record (messages, alerts,
// progress) goes to `handler` with its tag and text instead of standard
// output, standard error and syslog. For a program that uses the program's
// code as a library and reports in its own format. Create and destroy it on
// the main thread while no other thread logs; captures do not nest.
class LogCapture {
 public:
  using Handler = std::function<void(const char* tag, const char* text)>;
  explicit LogCapture(Handler handler);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
};

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_LOG_H_
