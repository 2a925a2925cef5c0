// Logging set-up, standard-stream redirection and the kernel log channel.
#ifndef BOOTCRANK_HOST_LOGGING_H_
#define BOOTCRANK_HOST_LOGGING_H_

namespace bootcrank {

// Sets the logging library up once, first thing in main: syslog under
// `identity` and standard output with millisecond time stamps. Throws
// Exception when an output cannot be set up. Main thread, before any thread.
void InitLogging(const char* identity);

// Points standard input at /dev/null and standard output and error, appending,
// at `path` (created 0644, never through a symbolic link). Failures are
// warnings only; when `path` cannot be opened, standard output and error stay
// as they were. Only for a process that starts up: it changes process-wide
// descriptors.
void RedirectStdio(const char* path);

// One message to the host kernel's system log; falls back to syslog when the
// kernel log cannot take it. Never throws. Thread-safe.
void KernelLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_LOGGING_H_
