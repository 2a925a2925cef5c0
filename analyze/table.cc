#include "analyze/table.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "host/files.h"

namespace bootcrank {
namespace analyze {

bool ColourWanted(int fd) {
  const char* noColour = getenv("NO_COLOR");
  if (noColour != nullptr && noColour[0] != '\0') return false;
  return host::IsTerminal(fd);
}

std::string Paint(const std::string& text, const char* sgr, bool on) {
  if (!on || sgr == nullptr || sgr[0] == '\0') return text;
  return std::string("\033[") + sgr + "m" + text + "\033[0m";
}

const char* ResultColour(const std::string& result) {
  if (result == "failed") return colour::kRed;
  if (result == "skipped" || result == "not_reached") return colour::kYellow;
  if (result == "succeeded") return colour::kGreen;
  return colour::kNone;
}

std::string FormatDuration(Micros d) {
  if (d == kNoTime) return "-";
  char text[48];
  const char* sign = d < 0 ? "-" : "";
  uint64_t a = d < 0 ? static_cast<uint64_t>(-(d + 1)) + 1 : static_cast<uint64_t>(d);
  if (a >= 1000000)
    snprintf(text, sizeof text, "%s%" PRIu64 ".%03" PRIu64 "s", sign, a / 1000000,
             a % 1000000 / 1000);
  else if (a >= 1000)
    snprintf(text, sizeof text, "%s%" PRIu64 ".%" PRIu64 "ms", sign, a / 1000, a % 1000 / 100);
  else
    snprintf(text, sizeof text, "%s%" PRIu64 "us", sign, a);
  return text;
}

std::string FormatOffset(Micros offset) {
  if (offset == kNoTime) return "-";
  return offset < 0 ? FormatDuration(offset) : "+" + FormatDuration(offset);
}

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++width;
  return width;
}

void Table::Print(std::ostream& out, bool colour) const {
  std::vector<size_t> widths(columns_.size());
  for (size_t c = 0; c < columns_.size(); ++c) widths[c] = DisplayWidth(columns_[c].title);
  for (const auto& row : rows_)
    for (size_t c = 0; c < row.size() && c < widths.size(); ++c)
      widths[c] = std::max(widths[c], DisplayWidth(row[c].text));
  auto line = [&](const std::vector<Cell>& cells) {
    std::string text;
    size_t pending = 0;  // blanks owed before the next non-empty text
    for (size_t c = 0; c < columns_.size(); ++c) {
      const Cell& cell = c < cells.size() ? cells[c] : Cell("");
      size_t pad = widths[c] - DisplayWidth(cell.text);
      if (c > 0) pending += 2;
      if (columns_[c].right) pending += pad;
      if (!cell.text.empty()) {
        text.append(pending, ' ');
        pending = 0;
        text += Paint(cell.text, cell.sgr, colour);
      }
      if (!columns_[c].right) pending += pad;
    }
    out << text << '\n';
  };
  std::vector<Cell> titles;
  for (const Column& c : columns_) titles.emplace_back(c.title, colour::kBold);
  line(titles);
  for (const auto& row : rows_) line(row);
}

}  // namespace analyze
}  // namespace bootcrank
