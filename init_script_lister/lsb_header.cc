#include "init_script_lister/lsb_header.h"

#include <strings.h>

#include <sstream>

namespace bootcrank {

namespace {

const char kBegin[] = "### BEGIN INIT INFO";
const char kEnd[] = "### END INIT INFO";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The field that `name` selects, or null for one that does not order a boot.
std::vector<std::string>* Field(LsbHeader& header, const std::string& name) {
  struct Entry {
    const char* name;
    std::vector<std::string> LsbHeader::*field;
  };
  static const Entry kFields[] = {{"Provides", &LsbHeader::provides},
                                  {"Required-Start", &LsbHeader::requiredStart},
                                  {"Should-Start", &LsbHeader::shouldStart},
                                  {"X-Start-Before", &LsbHeader::startBefore},
                                  {"Default-Start", &LsbHeader::defaultStart}};
  for (const Entry& entry : kFields) {
    if (strcasecmp(entry.name, name.c_str()) == 0) return &(header.*entry.field);
  }
  return nullptr;
}

}  // namespace

LsbHeader ReadLsbHeader(std::istream& in) {
  LsbHeader header;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!header.present) {
      header.present = StartsWith(line, kBegin);
      continue;
    }
    if (StartsWith(line, kEnd)) break;
    if (line.empty() || line[0] != '#') continue;
    size_t start = line.compare(1, 1, " ") == 0 ? 2 : 1;
    size_t colon = line.find(':', start);
    if (colon == std::string::npos || start == colon ||
        isspace(static_cast<unsigned char>(line[start])))
      continue;
    if (std::vector<std::string>* field = Field(header, line.substr(start, colon - start))) {
      *field = Words(line.substr(colon + 1));
    }
  }
  return header;
}

}  // namespace bootcrank
