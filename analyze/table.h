// Aligned text tables for the terminal, with optional colour, and the
// duration and offset formats every command prints.
//
// Colour is only for a terminal: ColourWanted() is true when the stream's
// descriptor is a terminal and NO_COLOR is unset or empty (no-color.org).
// Colour codes never count towards a column's width.
#ifndef BOOTCRANK_ANALYZE_TABLE_H_
#define BOOTCRANK_ANALYZE_TABLE_H_

#include <ostream>
#include <string>
#include <vector>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

// ANSI colours (SGR parameters) the commands use.
namespace colour {
constexpr const char* kNone = "";
constexpr const char* kRed = "31";
constexpr const char* kGreen = "32";
constexpr const char* kYellow = "33";
constexpr const char* kBold = "1";
constexpr const char* kDim = "2";
}  // namespace colour

// Whether output to descriptor `fd` gets colour.
bool ColourWanted(int fd);

// `text` wrapped in the colour `sgr` when `on` and `sgr` is not empty.
std::string Paint(const std::string& text, const char* sgr, bool on);

// The colour of a plugin result ("failed" red, ...).
const char* ResultColour(const std::string& result);

// "1.234s", "12.3ms", "850us"; "-" for kNoTime.
std::string FormatDuration(Micros duration);
// A time relative to the boot's start: "+1.234s"; "-" for kNoTime.
std::string FormatOffset(Micros offset);

class Table {
 public:
  struct Column {
    std::string title;
    bool right = false;  // right-aligned (numbers)
  };
  struct Cell {
    Cell(std::string t, const char* c = colour::kNone) : text(std::move(t)), sgr(c) {}
    Cell(const char* t, const char* c = colour::kNone) : text(t), sgr(c) {}
    std::string text;
    const char* sgr;
  };

  explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}
  void AddRow(std::vector<Cell> row) { rows_.push_back(std::move(row)); }
  size_t Rows() const { return rows_.size(); }
  // The title line and the rows, columns two blanks apart, no trailing blanks.
  void Print(std::ostream& out, bool colour) const;

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<Cell>> rows_;
};

// Display width of UTF-8 text: its code points.
size_t DisplayWidth(const std::string& text);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_TABLE_H_
