#include "support/log_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace bootcrank {
namespace testing {

LogCapture::LogCapture() {
  fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  char name[] = "/tmp/bootcrank-log-XXXXXX";
  file_ = mkstemp(name);
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
  std::string text;
  char buffer[4096];
  off_t offset = 0;
  ssize_t n;
  while ((n = pread(file_, buffer, sizeof buffer, offset)) > 0) {
    text.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  return text;
}

std::vector<std::string> LogCapture::Messages(const std::string& tag) const {
  std::vector<std::string> out;
  for (const LogLine& line : ParseLogRecords(Text())) {
    if (line.tag == tag) out.push_back(line.message);
  }
  return out;
}

bool LogCapture::Has(const std::string& tag, const std::string& message) const {
  for (const LogLine& line : ParseLogRecords(Text())) {
    if (line.tag == tag && line.message == message) return true;
  }
  return false;
}

std::vector<LogLine> ParseLogRecords(const std::string& text) {
  static const std::regex head(
      R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z [^\[ ]+\[\d+\]: ([a-z]+): (.*)$)");
  std::vector<LogLine> records;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    std::smatch m;
    if (std::regex_match(line, m, head)) {
      records.push_back(LogLine{m[1], m[2]});
    } else if (!records.empty()) {
      records.back().message += "\n" + line;
    }
    begin = end + 1;
  }
  return records;
}

}  // namespace testing
}  // namespace bootcrank
