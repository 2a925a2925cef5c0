#include "support/log_capture.h"

#include "support/sandbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>

namespace bootcrank {
namespace testing {

LogCapture::LogCapture() {
  fflush(stdout);
  saved_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  char name[] = "/tmp/bootcrank-log-XXXXXX";
  file_ = mkostemp(name, O_CLOEXEC);
  unlink(name);
  dup2(file_, STDOUT_FILENO);
}

LogCapture::~LogCapture() {
  fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
  close(file_);
}

std::string LogCapture::Text() const {
  fflush(stdout);
  return ReadAll("/proc/self/fd/" + std::to_string(file_));
}

std::vector<std::string> LogCapture::Messages(const std::string& tag) const {
  return testing::Messages(Text(), tag);
}

bool LogCapture::Has(const std::string& tag, const std::string& message) const {
  return HasRecord(Text(), tag, message);
}

std::vector<LogLine> ParseLogRecords(const std::string& text) {
  // Matched against a line's first bytes only: over a long record the
  // regular expression would recurse deeply.
  static const std::regex head(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z [^\[ ]+\[\d+\]: ([a-z]+): )");
  std::vector<LogLine> records;
  std::istringstream in(text);
  std::smatch m;
  for (std::string line, start; std::getline(in, line);) {
    start = line.substr(0, 160);
    if (std::regex_search(start, m, head)) {
      records.push_back({m[1].str(), line.substr(static_cast<size_t>(m.length(0)))});
    } else if (!records.empty()) {
      records.back().message += "\n" + line;
    }
  }
  return records;
}

std::vector<std::string> Messages(const std::string& text, const std::string& tag) {
  std::vector<std::string> messages;
  for (const LogLine& line : ParseLogRecords(text)) {
    if (line.tag == tag) messages.push_back(line.message);
  }
  return messages;
}

long CountRecords(const std::string& text, const std::string& tag, const std::string& prefix) {
  std::vector<std::string> all = Messages(text, tag);
  return std::count_if(all.begin(), all.end(), [&](const std::string& m) { return m.rfind(prefix, 0) == 0; });
}

bool HasRecord(const std::string& text, const std::string& tag, const std::string& message) {
  std::vector<std::string> all = Messages(text, tag);
  return std::find(all.begin(), all.end(), message) != all.end();
}

}  // namespace testing
}  // namespace bootcrank
