// The console prompt of interactive runs.
//
// Before each plugin of an interactive run, activation asks the operator at
// the console whether to execute the plugin, skip it, open a troubleshooting
// shell first, or continue the run without further questions. Prompting waits
// until every plugin named by --interactive-mode-requires has been activated.
//
// Thread-safety: reads and changes Settings::interactive and
// Settings::interactiveRequires without a lock; interactive runs have a
// single worker, so only that worker may call InteractiveStep.
#ifndef BOOTCRANK_PLUGINS_INTERACTIVE_H_
#define BOOTCRANK_PLUGINS_INTERACTIVE_H_

#include <string>

namespace bootcrank {

enum class InteractiveOutcome {
  kGoOn,  // execute the plugin (answers e, c and t, or no prompt shown)
  kSkip,  // do not execute it; activation ends without further messages
};

// The interactive step for the plugin `pluginName`, on standard input and
// output. Call it only while Settings::interactive is set.
//
// While the requires list is not empty, the plugin's name is removed from it
// and no prompt is shown; the plugin that empties the list brings console 1
// to the front. Otherwise the menu is shown on console 1 and one key is read
// without echo: c clears the interactive flag and brings console 11 to the
// front, s skips, t runs a troubleshooting shell before the plugin, e
// executes it. Upper case keys count as lower case ones, every other key is
// ignored, and end of input counts as c.
InteractiveOutcome InteractiveStep(const std::string& pluginName);

}  // namespace bootcrank

#endif  // BOOTCRANK_PLUGINS_INTERACTIVE_H_
