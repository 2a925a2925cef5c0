#include "plugins/debug_config.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/tokenizer.hpp>
#include <istream>
#include <sstream>

#include "host/host_root.h"
#include "host/log.h"
#include "host/read_file.h"

namespace bootcrank {
namespace {

const char kDebugConfigPath[] = "/etc/quarro/bootcrank/debug.conf";
// An administrator's file of a few lines; anything beyond is not read.
constexpr size_t kMaxDebugConfigBytes = 16 * 1024 * 1024;

// A requires or provides field; throws boost::escaped_list_error, a
// std::runtime_error, on a bad escape.
std::vector<std::string> SplitBarrierList(const std::string& field) {
  boost::escaped_list_separator<char> separator("\\", ",", "\"'");
  boost::tokenizer<boost::escaped_list_separator<char>> items(field, separator);
  return std::vector<std::string>(items.begin(), items.end());
}

}  // namespace

std::vector<DebugEntry> ReadDebugEntries(std::istream& in) {
  std::vector<DebugEntry> entries;
  const boost::char_separator<char> colon(":");
  std::string line;
  for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
    boost::algorithm::trim(line);
    if (line.empty()) continue;
    boost::tokenizer<boost::char_separator<char>> tokens(line, colon);
    std::vector<std::string> fields(tokens.begin(), tokens.end());
    if (fields.size() != 4) {
      Log_Level(kLogInfo, "ignoring malformed debug entry at line %d: %s\n",
                lineNumber, line.c_str());
      continue;
    }
    entries.push_back(DebugEntry{fields[0], SplitBarrierList(fields[1]),
                                 SplitBarrierList(fields[2]), fields[3]});
  }
  return entries;
}

std::vector<DebugEntry> ReadDebugEntries() {
  std::string text;
  // A read error ends the file early: what was read still counts.
  if (host::ReadFile(host::HostPath(kDebugConfigPath), kMaxDebugConfigBytes,
                     &text) == host::ReadResult::kNotOpened) {
    return {};
  }
  std::istringstream in(text);
  return ReadDebugEntries(in);
}

}  // namespace bootcrank
