#include "support/log_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cctype>

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

namespace {

// Whether `line` starts like a record ("2026-12-04T09:08:13.004Z id[42]: tag: ");
// on success `tag` and `message` receive the parts. Scans by hand: records
// can be long, and a regular expression over them would recurse deeply.
bool SplitRecord(const std::string& line, LogLine& out) {
  static const char kStamp[] = "dddd-dd-ddTdd:dd:dd.dddZ ";
  size_t n = sizeof kStamp - 1;
  if (line.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (kStamp[i] == 'd' ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != kStamp[i]) {
      return false;
    }
  }
  size_t open = line.find('[', n);
  if (open == std::string::npos || open == n || line.find(' ', n) < open) return false;
  size_t close = open + 1;
  while (close < line.size() && isdigit(static_cast<unsigned char>(line[close]))) ++close;
  if (close == open + 1 || line.compare(close, 3, "]: ") != 0) return false;
  size_t tagBegin = close + 3, tagEnd = tagBegin;
  while (tagEnd < line.size() && line[tagEnd] >= 'a' && line[tagEnd] <= 'z') ++tagEnd;
  if (tagEnd == tagBegin || line.compare(tagEnd, 2, ": ") != 0) return false;
  out.tag = line.substr(tagBegin, tagEnd - tagBegin);
  out.message = line.substr(tagEnd + 2);
  return true;
}

}  // namespace

std::vector<LogLine> ParseLogRecords(const std::string& text) {
  std::vector<LogLine> records;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    LogLine record;
    if (SplitRecord(line, record)) {
      records.push_back(std::move(record));
    } else if (!records.empty()) {
      records.back().message += "\n" + line;
    }
    begin = end + 1;
  }
  return records;
}

}  // namespace testing
}  // namespace bootcrank
