#include "analyze/profiling_log.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace bootcrank {
namespace analyze {

namespace {

const char kUptime[] = "HVKernel Initialization Time: ";
const char kSection[] = "=== Bootcrank configuration info ===";
const char kDaemonSection[] = "=== Daemon configuration info ===";

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

// "[<time> - <time>] <tag>: <name>"; false when the line is not one.
bool ParsePluginLine(const std::string& line, Micros* start, Micros* end, std::string* tag,
                     std::string* name) {
  const size_t kTime = 26;  // "2026-12-04 09:08:13.004217"
  if (line.size() < 2 * kTime + 6 || line[0] != '[' || line.compare(1 + kTime, 3, " - ") != 0 ||
      line[4 + 2 * kTime] != ']' || line[5 + 2 * kTime] != ' ')
    return false;
  if (!ParseLogTimestamp(line.substr(1, kTime), start) ||
      !ParseLogTimestamp(line.substr(4 + kTime, kTime), end))
    return false;
  size_t colon = line.find(": ", 6 + 2 * kTime);
  if (colon == std::string::npos) return false;
  *tag = line.substr(6 + 2 * kTime, colon - (6 + 2 * kTime));
  *name = line.substr(colon + 2);
  return true;
}

}  // namespace

bool ParseLogTimestamp(const std::string& text, Micros* out) {
  int year, month, day, hour, minute, second, micros, used = 0;
  if (text.size() != 26 ||
      sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%6d%n", &year, &month, &day, &hour, &minute,
             &second, &micros, &used) != 7 ||
      used != 26)
    return false;
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  *out = static_cast<Micros>(timegm(&t)) * 1000000 + micros;
  return *out >= 0 && *out <= kLatestTime;
}

bool LooksLikeProfilingLog(const std::string& text) {
  if (StartsWith(text, kUptime)) return true;
  std::string first = text.substr(0, text.find('\n'));
  Micros a, b;
  std::string tag, name;
  return ParsePluginLine(first, &a, &b, &tag, &name) && tag == "sysboot";
}

BootRecord ParseProfilingLog(const std::string& text, const std::string& path) {
  BootRecord record;
  record.source = BootRecord::Source::kProfilingLog;
  record.path = path;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool inSettings = false;
  auto fail = [&](const std::string& what) {
    throw RecordError(path + ":" + std::to_string(number) + ": " + what);
  };
  auto timeAfter = [&](const char* prefix) {
    Micros t;
    if (!ParseLogTimestamp(line.substr(strlen(prefix)), &t)) fail("bad time stamp: " + line);
    return t;
  };
  auto numberAfter = [&](const char* prefix) {
    const char* digits = line.c_str() + strlen(prefix);
    char* stop;
    long long value = strtoll(digits, &stop, 10);
    if (stop == digits || *stop != '\0') fail("bad number: " + line);
    return static_cast<int64_t>(value);
  };
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    if (StartsWith(line, kDaemonSection) || (inSettings && line[0] == '['))
      break;  // a later daemon run
    if (StartsWith(line, kUptime)) {
      record.uptimeSeconds = numberAfter(kUptime) / 1000000;
      if (record.uptimeSeconds < 0 || record.uptimeSeconds > kLatestTime / 1000000)
        fail("uptime out of range: " + line);
    } else if (line[0] == '[') {
      RecordNode node;
      std::string tag;
      Micros start, end;
      if (!ParsePluginLine(line, &start, &end, &tag, &node.name))
        fail("not a plugin line: " + line);
      if (tag == "daemon") node.kind = "daemon";
      if (start != 0 || end != 0) {
        node.started = start;
        node.ended = end;
      }
      record.nodes.push_back(std::move(node));
    } else if (line == kSection) {
      inSettings = true;
    } else if (StartsWith(line, " Start: ")) {
      record.start = timeAfter(" Start: ");
    } else if (StartsWith(line, " End: ")) {
      record.end = timeAfter(" End: ");
    } else if (StartsWith(line, " Verbose: ")) {
      record.verbose = numberAfter(" Verbose: ") != 0;
    } else if (StartsWith(line, " Parallel: ")) {
      record.parallel = numberAfter(" Parallel: ") != 0;
    } else if (StartsWith(line, " Randomize: ")) {
      record.randomize = numberAfter(" Randomize: ") != 0;
    } else if (StartsWith(line, " Interactive Mode: ")) {
      record.interactive = numberAfter(" Interactive Mode: ") != 0;
    } else if (StartsWith(line, " Random Seed: ")) {
      record.randomSeed = numberAfter(" Random Seed: ");
    } else {
      fail("not a profiling log line: " + line);
    }
  }
  if (!inSettings)
    throw RecordError(path + ": profiling log without its configuration section (cut short?)");
  return record;
}

}  // namespace analyze
}  // namespace bootcrank
