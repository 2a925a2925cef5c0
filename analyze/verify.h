// verify: what would go wrong at boot with the installed plugins, found
// without running anything. The program's own loaders build a graph of
// verify's own (native plugin tables are read in a child process, as at
// boot); nothing is started.
//
// Findings, each tied to a file (and a line and column where there is one):
//   load-error      a plugin file that cannot be loaded (JSON syntax errors
//                   with line and column)
//   duplicate       two plugin files of the same plugin name
//   no-provider     a barrier that a plugin requires and nothing provides,
//                   with the nearest provided name when one is close
//   cycle           a dependency cycle, with the requires/provides entries
//                   that make each of its edges
//   command-length  a CLI command longer than the control protocol carries
//   command         a CLI command the installed extensions would refuse
//                   (unknown path, unknown or missing option, bad quoting)
//   debug-conf      a malformed line or a bad escape of the debug injection
//                   file
//   run-once        a run-once key that changes when it is recorded (the
//                   plugin would run again on every boot)
#ifndef BOOTCRANK_ANALYZE_VERIFY_H_
#define BOOTCRANK_ANALYZE_VERIFY_H_

#include <cstddef>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace bootcrank {
namespace analyze {

struct Finding {
  std::string file;
  int line = 0;    // from 1; 0 when the finding has no line
  int column = 0;  // from 1; 0 when it has no column
  std::string kind;
  std::string message;
};

struct VerifyOptions {
  std::string pluginDirectory;  // below the host root already
  std::set<std::string> bootFlags;
  bool checkCommands = true;  // load the CLI extensions and parse commands
};

// Every finding, sorted by file, line and column. Throws VerifyError when
// the plugin set cannot be checked at all (no plugin directory).
std::vector<Finding> Verify(const VerifyOptions& options);

class VerifyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Edit distance between `a` and `b` (insertions, deletions, substitutions).
size_t EditDistance(const std::string& a, const std::string& b);

// The name of `candidates` nearest to `name` when it is close enough to be a
// likely typo (distance at most max(2, length/3)); empty otherwise.
std::string NearestName(const std::string& name, const std::vector<std::string>& candidates);

// The line and column (from 1) of byte `offset` of `text`.
void LineAndColumn(const std::string& text, size_t offset, int* line, int* column);

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_VERIFY_H_
