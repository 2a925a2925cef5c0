// Captures what the process writes to standard output (the log records)
// while an object of this class lives, for tests of code that logs.
#ifndef BOOTCRANK_TESTS_SUPPORT_LOG_CAPTURE_H_
#define BOOTCRANK_TESTS_SUPPORT_LOG_CAPTURE_H_

#include <string>
#include <vector>

namespace bootcrank {
namespace testing {

class LogCapture {
 public:
  LogCapture();   // points descriptor 1 at a temporary file
  ~LogCapture();  // restores descriptor 1
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const;  // everything written so far
  // The messages (without the trailing newline) of the records with `tag`.
  std::vector<std::string> Messages(const std::string& tag) const;
  bool Has(const std::string& tag, const std::string& message) const;

 private:
  int saved_;
  int file_;
};

// A record line "<time> <identity>[<pid>]: <tag>: <message>"; its message
// goes on over the following lines that do not start like a record.
struct LogLine {
  std::string tag;
  std::string message;
};
std::vector<LogLine> ParseLogRecords(const std::string& text);

// The messages of the records tagged `tag` in `text` (a captured log, a
// run's standard output or a log file).
std::vector<std::string> Messages(const std::string& text, const std::string& tag);
// How many records tagged `tag` begin with `prefix`.
long CountRecords(const std::string& text, const std::string& tag, const std::string& prefix);
bool HasRecord(const std::string& text, const std::string& tag, const std::string& message);

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_SUPPORT_LOG_CAPTURE_H_
