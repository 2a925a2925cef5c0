// Helpers for end-to-end tests: a run's log records and its profiling log.
#ifndef BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_
#define BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace testing {

// The messages of the records tagged `tag` in a run's standard output.
inline std::vector<std::string> Messages(const std::string& out, const std::string& tag) {
  std::vector<std::string> messages;
  for (const LogLine& line : ParseLogRecords(out)) {
    if (line.tag == tag) messages.push_back(line.message);
  }
  return messages;
}

inline bool HasRecord(const std::string& out, const std::string& tag, const std::string& text) {
  auto all = Messages(out, tag);
  return std::find(all.begin(), all.end(), text) != all.end();
}

// A JSON descriptor whose start command leaves /var/run/quarro/<marker>.ran.
inline std::string MarkingDescriptor(const std::string& marker,
                                     const std::string& extraMetadata = "") {
  return "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [],"
         " \"run_once\": false, \"plugin_version\": \"1\"" + extraMetadata +
         "},\n \"operations\": {\"start\": [\"file write --path=/var/run/quarro/" + marker +
         ".ran --content=ran\"]}}\n";
}

// The profiling log with each time stamp of the run replaced by "<T>" (the
// zero time of never-run plugins is kept) and the uptime by "<U>".
inline std::string NormalisedProfilingLog(const std::string& log) {
  static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})");
  static const std::regex uptime(R"(^HVKernel Initialization Time: \d*000000\n)");
  std::string text = std::regex_replace(log, uptime, "HVKernel Initialization Time: <U>\n");
  std::string result;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), stamp), end; it != end; ++it) {
    result.append(last, (*it)[0].first);
    result += it->str() == "1970-01-01 00:00:00.000000" ? it->str() : "<T>";
    last = (*it)[0].second;
  }
  return result.append(last, text.cend());
}

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_E2E_RUN_RECORDS_H_
