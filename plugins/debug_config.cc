#include "plugins/debug_config.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/tokenizer.hpp>
#include <istream>
#include <cerrno>
#include <sstream>

#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/read_file.h"

namespace bootcrank {
namespace {

// An administrator's file of a few lines; anything beyond is not read.
constexpr size_t kMaxDebugConfigBytes = 16 * 1024 * 1024;

// A requires or provides field; throws boost::escaped_list_error, a
// std::runtime_error, on a bad escape.
std::vector<std::string> SplitBarrierList(const std::string& field) {
  boost::escaped_list_separator<char> separator("\\", ",", "\"'");
  boost::tokenizer<boost::escaped_list_separator<char>> items(field, separator);
  return std::vector<std::string>(items.begin(), items.end());
}

void LogMalformed(int lineNumber, const std::string& line) {
  Log_Level(kLogInfo, "ignoring malformed debug entry at line %d: %s\n", lineNumber, line.c_str());
}

// ReadDebugEntries(in), also appending the malformed lines to `malformed`
// when it is not null.
std::vector<DebugEntry> ParseDebugEntries(std::istream& in,
                                          std::vector<MalformedDebugLine>* malformed) {
  std::vector<DebugEntry> entries;
  const boost::char_separator<char> colon(":");
  std::string line;
  for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
    boost::algorithm::trim(line);
    if (line.empty()) continue;
    boost::tokenizer<boost::char_separator<char>> tokens(line, colon);
    std::vector<std::string> fields(tokens.begin(), tokens.end());
    if (fields.size() != 4) {
      LogMalformed(lineNumber, line);
      if (malformed != nullptr) malformed->push_back({lineNumber, line});
      continue;
    }
    entries.push_back(DebugEntry{fields[0], SplitBarrierList(fields[1]),
                                 SplitBarrierList(fields[2]), fields[3], lineNumber});
  }
  return entries;
}

// The host's file, as text; false when it cannot be opened (no injections)
// or cannot be read whole. A file over the cap or a read that fails part-way
// is refused whole, with a message naming the file: a line cut at the cap
// or at the failure would run as a shorter command.
bool ReadDebugConfigText(std::string* text) {
  const std::string path = host::HostPath(host::kDebugConfigPath);
  switch (host::ReadFile(path, kMaxDebugConfigBytes, text)) {
    case host::ReadResult::kComplete: return true;
    case host::ReadResult::kNotOpened: return false;
    case host::ReadResult::kTooLarge:
      Log_Level(kLogWarning, "ignoring debug injection file %s: larger than %zu bytes\n",
                path.c_str(), kMaxDebugConfigBytes);
      break;
    case host::ReadResult::kReadError:
      Log_Level(kLogWarning, "ignoring debug injection file %s: read failed: %s\n", path.c_str(),
                host::ErrorText(errno).c_str());
      break;
  }
  text->clear();
  return false;
}

}  // namespace

std::vector<DebugEntry> ReadDebugEntries(std::istream& in) {
  return ParseDebugEntries(in, nullptr);
}

std::vector<DebugEntry> ReadDebugEntries(std::istream& in,
                                         std::vector<MalformedDebugLine>* malformed) {
  return ParseDebugEntries(in, malformed);
}

std::vector<DebugEntry> ReadDebugEntries() {
  std::string text;
  if (!ReadDebugConfigText(&text)) return {};
  std::istringstream in(text);
  return ReadDebugEntries(in);
}

const std::vector<DebugEntry>& DebugEntryCache::Read() {
  if (loaded_) {
    for (const MalformedDebugLine& line : malformed_) LogMalformed(line.lineNumber, line.text);
    return entries_;
  }
  std::string text;
  std::vector<MalformedDebugLine> malformed;
  std::vector<DebugEntry> entries;
  if (ReadDebugConfigText(&text)) {
    std::istringstream in(text);
    entries = ParseDebugEntries(in, &malformed);
  }
  entries_ = std::move(entries);
  malformed_ = std::move(malformed);
  loaded_ = true;
  return entries_;
}

}  // namespace bootcrank
