// The SysV init scripts that a host starts in its default runlevel, with
// their start priorities: what "chkconfig -p" lists on hosts that have it.
//
// A script is a regular, executable file of /etc/init.d (not README,
// skeleton, rc, rcS, a dot file, a backup "~" or a dpkg or ucf leftover).
// The default runlevel is the initdefault entry of /etc/inittab, else 2,
// Debian's. In it a script is enabled by an "S<NN>" link in /etc/rc<N>.d,
// which also gives its priority NN, and disabled by a "K<NN>" link; a script
// without either link there follows its LSB header: it is enabled when its
// Default-Start names the runlevel, and starts one step after the latest of
// the enabled scripts that its Required-Start and Should-Start name, or that
// name it in X-Start-Before ("$all": every script that does not itself wait
// for "$all"), 1 without any. Facilities ("$syslog") are the scripts that
// /etc/insserv.conf and /etc/insserv.conf.d/ map them to, or when neither
// exists Debian's usual map; a name that no enabled script provides counts
// as up before the runlevel (it belongs to rcS).
#ifndef BOOTCRANK_INIT_SCRIPT_LISTER_INIT_SCRIPTS_H_
#define BOOTCRANK_INIT_SCRIPT_LISTER_INIT_SCRIPTS_H_

#include <stdexcept>
#include <string>
#include <vector>

namespace bootcrank {

struct ListedScript {
  std::string name;  // file name in /etc/init.d
  int priority = 0;
};

struct InitScripts {
  int runlevel = 2;
  // Ascending priority, then name.
  std::vector<ListedScript> scripts;
  // Scripts left out or orderings dropped, one text each (a name with white
  // space, which the listing's line form cannot carry; a dependency cycle).
  std::vector<std::string> warnings;
};

// Lists the scripts of the host whose root directory is `root` ("" for "/",
// else an absolute path without a trailing slash). Throws runtime_error,
// naming the directory and the system's error text, when <root>/etc/init.d
// cannot be read.
InitScripts ListInitScripts(const std::string& root);

}  // namespace bootcrank

#endif  // BOOTCRANK_INIT_SCRIPT_LISTER_INIT_SCRIPTS_H_
