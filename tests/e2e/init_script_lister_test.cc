// The shipped init script lister over sandbox roots' /etc: which scripts of
// /etc/init.d it lists, with which start priority, and what it warns of.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

namespace fs = std::filesystem;

const char kLister[] = "/usr/lib/quarro/bootcrank/initScriptLister";

struct Entry {
  std::string path, content;  // a symbolic link to `content` when `link`
  mode_t mode = 0755;         // 0: a FIFO
  bool link = false;
};
const std::string kRunlevels = "# Default-Start: 2 3 4 5\n";
// An executable script /etc/init.d/<name> whose LSB header holds `fields`.
Entry Script(const std::string& name, const std::string& fields = kRunlevels, mode_t mode = 0755) {
  return {"/etc/init.d/" + name, "#!/bin/sh\n### BEGIN INIT INFO\n" + fields + "### END INIT INFO\nexit 0\n", mode};
}
Entry Link(const std::string& path, const std::string& target) { return {path, target, 0, true}; }
Entry Text(const std::string& path, const std::string& content) { return {path, content, 0644}; }

struct ListerCase {
  const char* what;
  std::vector<Entry> etc;
  std::string listing;   // "<script> <priority>" lines, the root's /etc/init.d/ left out
  std::string warnings;  // standard error, "R" standing for the root
};

TEST(InitScriptListerE2E, ListsTheEnabledScriptsOfTheDefaultRunlevel) {
  const ListerCase cases[] = {
      {"S links enable and number, K links disable, other runlevels and stray links do not count",
       {Script("dbus", "# Provides: dbus\n# Required-Start: $remote_fs $syslog\n" + kRunlevels), Script("postgresql"),
        Script("cron"), Script("hwclock.sh", "# Default-Start: S\n"), Link("/etc/rc2.d/S01dbus", "../init.d/dbus"),
        Link("/etc/rc2.d/S03postgresql", "../init.d/postgresql"), Link("/etc/rc2.d/S09postgresql", "../init.d/postgresql"),
        Link("/etc/rc2.d/K01cron", "../init.d/cron"), Link("/etc/rc3.d/S05cron", "../init.d/cron"),
        Link("/etc/rcS.d/S01hwclock.sh", "../init.d/hwclock.sh"), Link("/etc/rc2.d/S02gone", "../init.d/gone"),
        Text("/etc/rc2.d/README", "")},
       "dbus 1\npostgresql 3\n", ""},
      {"the initdefault entry of /etc/inittab picks the runlevel",
       {Text("/etc/inittab", "# default\nsi::sysinit:/etc/init.d/rcS\nid:3:initdefault:\n"), Script("a", ""),
        Script("b", ""), Link("/etc/rc2.d/S01a", "../init.d/a"), Link("/etc/rc3.d/S07b", "../init.d/b")},
       "b 7\n", ""},
      {"a runlevel that cannot be the default leaves runlevel 2",
       {Text("/etc/inittab", "id:6:initdefault:\n"), Script("a", ""), Link("/etc/rc2.d/S01a", "../init.d/a")},
       "a 1\n", ""},
      {"without links the header enables and orders, after what it requires and before what it names",
       {Script("a", "# Provides: alpha\n" + kRunlevels), Script("b", "# Required-Start: alpha $remote_fs\n" + kRunlevels),
        Script("c", "# Should-Start: b absent\n" + kRunlevels), Script("d", "# X-Start-Before: alpha\n" + kRunlevels),
        Script("early", "# Provides: early\n# Default-Start: S\n"),
        Script("e", "# Required-Start: early\n# Default-Start: 3 4\n"), {"/etc/init.d/plain", "#!/bin/sh\nexit 0\n"}},
       "d 1\na 2\nb 3\nc 4\n", ""},
      {"a linked script keeps its number and those after it follow",
       {Script("rsyslog", "# Provides: rsyslog\n" + kRunlevels), Script("web", "# Required-Start: $syslog $network\n" + kRunlevels),
        Link("/etc/rc2.d/S04rsyslog", "../init.d/rsyslog")},
       "rsyslog 4\nweb 5\n", ""},
      {"/etc/insserv.conf and its directory map the facilities",
       {Script("rsyslog", "# Provides: rsyslog\n" + kRunlevels), Script("logd", "# Provides: logd\n# Required-Start: netd\n" + kRunlevels),
        Script("netd"), Script("web", "# Required-Start: $syslog\n" + kRunlevels), Link("/etc/rc2.d/S04rsyslog", "../init.d/rsyslog"),
        Text("/etc/insserv.conf", "# facilities\n$syslog +logd\n<interactive> rsyslog\n"),
        Text("/etc/insserv.conf.d/net", "$network netd\n$syslog $network\n"),
        Text("/etc/insserv.conf.d/old.dpkg-old", "$syslog rsyslog\n")},
       "netd 1\nlogd 2\nweb 3\nrsyslog 4\n", ""},
      {"$all waits for every script that does not wait for $all",
       {Script("a"), Script("b", "# Required-Start: a\n" + kRunlevels),
        Script("y", "# Should-Start: $all\n# Required-Start: z\n" + kRunlevels), Script("z", "# Required-Start: $all\n" + kRunlevels)},
       "a 1\nb 2\nz 3\ny 4\n", ""},
      {"a dependency cycle is broken with a warning",
       {Script("p", "# Required-Start: q\n" + kRunlevels), Script("q", "# Required-Start: p\n" + kRunlevels)},
       "q 1\np 2\n", "initScriptLister: warning: dependency cycle: q starts without waiting for p\n"},
      {"field names in any case, continuation lines and CR line ends",
       {Script("a", "#default-start: 2\r\n"), Script("b", "# Default-Start: 2\n#\tRequired-Start: c\n#  Required-Start: c\n"),
        Script("c", "# REQUIRED-START:\ta\r\n# Default-Start:\t2\n")},
       "a 1\nb 1\nc 2\n", ""},
      {"only executable regular files of their own are scripts; white space in a name is warned of",
       {Script("real"), Link("/etc/init.d/alias", "../shared/script"), {"/etc/shared/script", Script("x").content},
        Link("/etc/init.d/dangling", "/nowhere"), Script("README"), Script("skeleton"), Script("rc"), Script("rcS"),
        Script(".hidden"), Script("real.dpkg-old"), Script("real.ucf-dist"), Script("real~"), Script("notexec", kRunlevels, 0644),
        {"/etc/init.d/fifo", "", 0}, Script("dir/x"), Script("two words"), Link("/etc/rc2.d/S01README", "../init.d/README"),
        Link("/etc/rc2.d/S01notexec", "../init.d/notexec")},
       "alias 1\nreal 1\n", "initScriptLister: warning: leaving out R/etc/init.d/two words: white space in its name\n"},
  };
  for (const ListerCase& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    for (const Entry& e : c.etc) {
      box.MakeDirectory(e.path.substr(0, e.path.rfind('/')));
      if (e.link) {
        fs::create_symlink(e.content, box.Path(e.path));
      } else if (e.mode == 0) {
        ASSERT_EQ(0, mkfifo(box.Path(e.path).c_str(), 0644));
      } else {
        box.WriteFile(e.path, e.content, e.mode);
      }
    }
    std::vector<std::string> env = box.Environment();
    RunResult r = RunProcess({box.Path(kLister), "-p"}, &env, 30);
    EXPECT_EQ(0, r.status);
    std::string listing;
    std::istringstream lines(c.listing);
    for (std::string line; std::getline(lines, line);) listing += box.Path("/etc/init.d/") + line + "\n";
    EXPECT_EQ(listing, r.out);
    EXPECT_EQ(std::regex_replace(c.warnings, std::regex("R/"), box.Root() + "/"), r.err);
  }
}

TEST(InitScriptListerE2E, RefusesOtherArgumentsAndAMissingInitDirectory) {
  Sandbox box;
  std::vector<std::string> env = box.Environment();
  RunResult r = RunProcess({box.Path(kLister), "-p", "--all"}, &env, 30);
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("initScriptLister: unknown argument '--all'\nusage: initScriptLister [-p]\n", r.err);
  r = RunProcess({box.Path(kLister), "-p"}, &env, 30);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("initScriptLister: cannot read " + box.Path("/etc/init.d") + ": No such file or directory\n", r.err);
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
