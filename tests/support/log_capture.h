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

  // Everything written so far.
  std::string Text() const;
  // The message texts of the records with `tag` ("error", "warning",
  // "info", "alert", ...), without the trailing newline, in order.
  std::vector<std::string> Messages(const std::string& tag) const;
  // True when some record has exactly this tag and message.
  bool Has(const std::string& tag, const std::string& message) const;

 private:
  int saved_;
  int file_;
};

// A parsed log record line: "<time> <identity>[<pid>]: <tag>: <message>".
struct LogLine {
  std::string tag;
  std::string message;
};
// Splits standard output into records; a record's message may span several
// lines (until the next line that starts like a record).
std::vector<LogLine> ParseLogRecords(const std::string& text);

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_SUPPORT_LOG_CAPTURE_H_
