// Init-script daemons: the run list of daemon mode, made from the host's
// listing of classic init scripts ("<root>/bin/chkconfig -p", one
// "<script path> <priority>" per line). A host root without /bin/chkconfig
// is listed by the shipped "<root>/usr/lib/quarro/bootcrank/initScriptLister
// -p" instead, which reads its /etc/init.d and /etc/rc<N>.d.
//
// Main thread only, before the graph executor starts.
#ifndef BOOTCRANK_DAEMONS_INIT_SCRIPT_DAEMONS_H_
#define BOOTCRANK_DAEMONS_INIT_SCRIPT_DAEMONS_H_

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "plugins/plugin.h"

namespace bootcrank {

struct InitScriptEntry {
  int32_t priority = 0;
  std::string path;  // as listed; may be relative or repeated
};

struct InitScriptListing {
  // Ascending priority; equal priorities in listing order.
  std::vector<InitScriptEntry> entries;
  // Lines with content that is not "<path> <priority>" (a missing or
  // non-numeric priority, or one out of the signed 32-bit range), as read.
  // Blank lines are neither entries nor malformed.
  std::vector<std::string> malformed;
};

// One listing line: leading white space, the path word, white space, a signed
// decimal priority; anything after the priority is ignored. False when the
// line does not have that form.
bool ParseInitScriptLine(const std::string& line, InitScriptEntry* entry);

// Reads `in` to its end and orders the entries. Throws whatever the stream
// throws.
InitScriptListing ParseInitScriptListing(std::istream& in);

// One LegacyDaemonPlugin of `graph` per listed script, in priority order; named after
// the script's last path component. Start runs (`stop` false) leave out
// "hvsyslogd" and "evtd". A tool that cannot be run gives an empty list; a
// plugin that cannot be created is logged and left out; a failure while
// reading the listing throws Exception "Failed obtaining list of init.d
// scripts".
RunList DiscoverInitScriptDaemons(Graph& graph, bool stop);

}  // namespace bootcrank

#endif  // BOOTCRANK_DAEMONS_INIT_SCRIPT_DAEMONS_H_
