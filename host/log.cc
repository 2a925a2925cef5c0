#include "host/log.h"

#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <sys/time.h>

namespace {

// Configuration, written only during set-up on the main thread before any
// other thread exists, read by every logging thread afterwards.
struct LogConfig {
  char identity[64] = "bootcrank";
  bool syslogOpen = false;
  int syslogMaxLevel = kLogInfo;  // messages above this level skip syslog
  bool stdoutEnabled = true;
  int stdoutMaxLevel = kLogInfo;
  bool timeStamps = true;
  bool milliseconds = true;
  int stderrMaxLevel = -1;
};
LogConfig config;
// The handler of the live LogCapture, if any.
bootcrank::host::LogCapture::Handler* captureHandler = nullptr;

struct LogOutputImpl {
  int maxLevel;
  bool timeStamps;
  bool milliseconds;
};

// Serialises syslog(3), whose internal lock a forked child would otherwise
// inherit locked. The fork handlers below hold it across every fork.
pthread_mutex_t syslogMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_once_t forkHandlersOnce = PTHREAD_ONCE_INIT;

void LockSyslog() { pthread_mutex_lock(&syslogMutex); }
void UnlockSyslog() { pthread_mutex_unlock(&syslogMutex); }
void RegisterForkHandlers() { pthread_atfork(LockSyslog, UnlockSyslog, UnlockSyslog); }

int NormaliseLevel(int level) {
  if (level <= kLogError) return kLogError;
  if (level <= kLogWarning) return kLogWarning;
  return kLogInfo;
}

const char* TagOf(int level) {
  switch (NormaliseLevel(level)) {
    case kLogError: return "error";
    case kLogWarning: return "warning";
    default: return "info";
  }
}

int SyslogPriorityOf(int level) {
  switch (NormaliseLevel(level)) {
    case kLogError: return LOG_ERR;
    case kLogWarning: return LOG_WARNING;
    default: return LOG_INFO;
  }
}

int LevelFromName(const std::string& name, int fallback) {
  if (name == "error") return kLogError;
  if (name == "warning") return kLogWarning;
  if (name == "info" || name == "verbose" || name == "trivia") return kLogInfo;
  return fallback;
}

// Writes all of `data` to `fd`, retrying after interruptions and short
// writes. A short write only happens when the descriptor is a pipe that is
// nearly full; the record is still written by this one thread.
void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

std::string FormatRecord(const char* tag, const char* text) {
  std::string record;
  if (config.timeStamps) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm tm;
    gmtime_r(&now.tv_sec, &tm);
    char stamp[40];
    size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
    if (config.milliseconds) {
      snprintf(stamp + n, sizeof stamp - n, ".%03dZ ", static_cast<int>(now.tv_usec / 1000));
    } else {
      snprintf(stamp + n, sizeof stamp - n, "Z ");
    }
    record += stamp;
  }
  char head[128];
  snprintf(head, sizeof head, "%s[%d]: %s: ", config.identity, static_cast<int>(getpid()), tag);
  record += head;
  record += text;
  if (record.empty() || record.back() != '\n') record += '\n';
  return record;
}

void Emit(const char* tag, int level, int syslogPriority, const char* text) {
  int saved = errno;
  if (captureHandler != nullptr) {
    (*captureHandler)(tag, text);
    errno = saved;
    return;
  }
  if (config.stdoutEnabled && level <= config.stdoutMaxLevel) {
    std::string record = FormatRecord(tag, text);
    WriteAll(STDOUT_FILENO, record.data(), record.size());
  }
  if (config.stderrMaxLevel >= 0 && level <= config.stderrMaxLevel) {
    std::string record = FormatRecord(tag, text);
    WriteAll(STDERR_FILENO, record.data(), record.size());
  }
  if (config.syslogOpen && level <= config.syslogMaxLevel) {
    pthread_once(&forkHandlersOnce, RegisterForkHandlers);
    LockSyslog();
    syslog(syslogPriority, "%s", text);
    UnlockSyslog();
  }
  errno = saved;
}

void EmitV(const char* tag, int level, int syslogPriority, const char* format, va_list args) {
  char* text = Str_SafeVasprintf(nullptr, format, args);
  Emit(tag, level, syslogPriority, text != nullptr ? text : format);
  free(text);
}

}  // namespace

void Log_Level(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int normal = NormaliseLevel(level);
  EmitV(TagOf(normal), normal, SyslogPriorityOf(normal), format, args);
  va_end(args);
}

void Warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  EmitV("warning", kLogWarning, LOG_WARNING, format, args);
  va_end(args);
}

void Panic(const char* format, ...) {
  va_list args;
  va_start(args, format);
  EmitV("panic", kLogError, LOG_CRIT, format, args);
  va_end(args);
  abort();
}

void Log_SetProductInfo(const char*, const char*, const char*, const char*) {
  // Syslog records carry the identity only; the product information is kept
  // by the host's own logging library for its banner, which this one lacks.
}

bool Log_InitWithSyslogInt(const char* identity, Dictionary* dict, int) {
  std::string id = Dict_GetString(dict, "log.syslogID", identity);
  if (id.empty() || id.size() >= sizeof config.identity) return false;
  int level = LevelFromName(Dict_GetString(dict, "log.syslogLevel", "info"), -1);
  if (level < 0) return false;
  snprintf(config.identity, sizeof config.identity, "%s", id.c_str());
  config.syslogMaxLevel = level;
  pthread_once(&forkHandlersOnce, RegisterForkHandlers);
  openlog(config.identity, LOG_PID, LOG_DAEMON);
  config.syslogOpen = true;
  return true;
}

LogOutput* Log_NewStdioOutput(const char*, Dictionary* dict, int) {
  int level = LevelFromName(Dict_GetString(dict, "log.stdoutLevel", "info"), -1);
  if (level < 0) return nullptr;
  auto* out = new LogOutputImpl{level, Dict_GetBool(dict, "log.useTimeStamps.stdio", true),
                                Dict_GetBool(dict, "log.useMilliseconds.stdio", true)};
  return reinterpret_cast<LogOutput*>(out);
}

bool Log_AddOutput(LogOutput* output) {
  if (output == nullptr) return false;
  auto* out = reinterpret_cast<LogOutputImpl*>(output);
  config.stdoutEnabled = true;
  config.stdoutMaxLevel = out->maxLevel;
  config.timeStamps = out->timeStamps;
  config.milliseconds = out->milliseconds;
  delete out;  // its settings now live in the configuration
  return true;
}

void Log_SetStderrLevel(int level) { config.stderrMaxLevel = level; }

char* Str_SafeVasprintf(size_t* length, const char* format, va_list args) {
  char* text = nullptr;
  int n = vasprintf(&text, format, args);
  if (n < 0) return nullptr;
  if (length != nullptr) *length = static_cast<size_t>(n);
  return text;
}

namespace bootcrank {
namespace host {

void LogRecord(const char* tag, int syslogPriority, const std::string& text) {
  Emit(tag, kLogInfo, syslogPriority, text.c_str());
}

void SyslogText(int priority, const std::string& text) {
  pthread_once(&forkHandlersOnce, RegisterForkHandlers);
  LockSyslog();
  syslog(priority, "%s", text.c_str());
  UnlockSyslog();
}

LogCapture::LogCapture(Handler handler) { captureHandler = new Handler(std::move(handler)); }

LogCapture::~LogCapture() {
  delete captureHandler;
  captureHandler = nullptr;
}

}  // namespace host
}  // namespace bootcrank
