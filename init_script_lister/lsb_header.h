// The LSB comment block of a SysV init script, between "### BEGIN INIT INFO"
// and "### END INIT INFO": the fields that place the script in a boot.
#ifndef BOOTCRANK_INIT_SCRIPT_LISTER_LSB_HEADER_H_
#define BOOTCRANK_INIT_SCRIPT_LISTER_LSB_HEADER_H_

#include <istream>
#include <string>
#include <vector>

namespace bootcrank {

struct LsbHeader {
  bool present = false;  // a BEGIN line was found
  // Each field's words, in the order written. Names starting with "$" are
  // facilities ("$syslog", "$all").
  std::vector<std::string> provides;
  std::vector<std::string> requiredStart;
  std::vector<std::string> shouldStart;
  std::vector<std::string> startBefore;   // X-Start-Before
  std::vector<std::string> defaultStart;  // runlevels: "2", "3", "S"
};

// Reads `in` up to the END line (or its end). A field line is "#", an
// optional blank, "Name:" and its words; field names compare without regard
// to case. A line with a tab or more blanks after "#" continues a description
// and is skipped, like every field not named above.
LsbHeader ReadLsbHeader(std::istream& in);

}  // namespace bootcrank

#endif  // BOOTCRANK_INIT_SCRIPT_LISTER_LSB_HEADER_H_
