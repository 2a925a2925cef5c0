// The shipped init script lister, run over sandbox roots' /etc and over this
// machine's own: which scripts of /etc/init.d it lists, with which start
// priority, and what it warns of.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

namespace fs = std::filesystem;

const char kLister[] = "/usr/lib/quarro/bootcrank/initScriptLister";

// An executable init script whose LSB header holds `fields` ("# Name: words" lines).
std::string Lsb(const std::string& fields) {
  return "#!/bin/sh\n### BEGIN INIT INFO\n" + fields + "### END INIT INFO\nexit 0\n";
}
const std::string kRunlevels = "# Default-Start: 2 3 4 5\n";

// One entry of a sandbox /etc: a file (`mode` 0 makes a FIFO), or with
// `link` set a symbolic link to `content`.
struct Entry {
  std::string path, content;
  mode_t mode = 0755;
  bool link = false;
};
Entry Link(const std::string& path, const std::string& target) { return {path, target, 0, true}; }

struct ListerCase {
  const char* what;
  std::vector<Entry> etc;
  std::string listing;   // "<script> <priority>" lines, the root's /etc/init.d/ left out
  std::string warnings;  // standard error, "R" standing for the root
};

TEST(InitScriptListerE2E, ListsTheEnabledScriptsOfTheDefaultRunlevel) {
  const Entry dbus = {"/etc/init.d/dbus", Lsb("# Provides: dbus\n# Required-Start: $remote_fs $syslog\n" + kRunlevels)};
  const ListerCase cases[] = {
      {"S links enable and number, K links disable, other runlevels and stray links do not count",
       {dbus,
        {"/etc/init.d/postgresql", Lsb(kRunlevels)},
        {"/etc/init.d/cron", Lsb(kRunlevels)},
        {"/etc/init.d/hwclock.sh", Lsb("# Default-Start: S\n")},
        Link("/etc/rc2.d/S01dbus", "../init.d/dbus"),
        Link("/etc/rc2.d/S03postgresql", "../init.d/postgresql"),
        Link("/etc/rc2.d/S09postgresql", "../init.d/postgresql"),
        Link("/etc/rc2.d/K01cron", "../init.d/cron"),
        Link("/etc/rc3.d/S05cron", "../init.d/cron"),
        Link("/etc/rcS.d/S01hwclock.sh", "../init.d/hwclock.sh"),
        Link("/etc/rc2.d/S02gone", "../init.d/gone"),
        {"/etc/rc2.d/README", "", 0644}},
       "dbus 1\npostgresql 3\n",
       ""},
      {"the initdefault entry of /etc/inittab picks the runlevel",
       {{"/etc/inittab", "# default\nsi::sysinit:/etc/init.d/rcS\nid:3:initdefault:\n", 0644},
        {"/etc/init.d/a", Lsb("")},
        {"/etc/init.d/b", Lsb("")},
        Link("/etc/rc2.d/S01a", "../init.d/a"),
        Link("/etc/rc3.d/S07b", "../init.d/b")},
       "b 7\n",
       ""},
      {"a runlevel that cannot be the default leaves runlevel 2",
       {{"/etc/inittab", "id:6:initdefault:\n", 0644},
        {"/etc/init.d/a", Lsb("")},
        Link("/etc/rc2.d/S01a", "../init.d/a")},
       "a 1\n",
       ""},
      {"without links the header enables and orders, after what it requires and before what it names",
       {{"/etc/init.d/a", Lsb("# Provides: alpha\n" + kRunlevels)},
        {"/etc/init.d/b", Lsb("# Required-Start: alpha $remote_fs\n" + kRunlevels)},
        {"/etc/init.d/c", Lsb("# Should-Start: b absent\n" + kRunlevels)},
        {"/etc/init.d/d", Lsb("# X-Start-Before: alpha\n" + kRunlevels)},
        {"/etc/init.d/early", Lsb("# Provides: early\n# Default-Start: S\n")},
        {"/etc/init.d/e", Lsb("# Required-Start: early\n# Default-Start: 3 4\n")},
        {"/etc/init.d/plain", "#!/bin/sh\nexit 0\n"}},
       "d 1\na 2\nb 3\nc 4\n",
       ""},
      {"a linked script keeps its number and those after it follow",
       {{"/etc/init.d/rsyslog", Lsb("# Provides: rsyslog\n" + kRunlevels)},
        {"/etc/init.d/web", Lsb("# Required-Start: $syslog $network\n" + kRunlevels)},
        Link("/etc/rc2.d/S04rsyslog", "../init.d/rsyslog")},
       "rsyslog 4\nweb 5\n",
       ""},
      {"/etc/insserv.conf and its directory map the facilities",
       {{"/etc/init.d/rsyslog", Lsb("# Provides: rsyslog\n" + kRunlevels)},
        {"/etc/init.d/logd", Lsb("# Provides: logd\n# Required-Start: netd\n" + kRunlevels)},
        {"/etc/init.d/netd", Lsb(kRunlevels)},
        {"/etc/init.d/web", Lsb("# Required-Start: $syslog\n" + kRunlevels)},
        Link("/etc/rc2.d/S04rsyslog", "../init.d/rsyslog"),
        {"/etc/insserv.conf", "# facilities\n$syslog +logd\n<interactive> rsyslog\n", 0644},
        {"/etc/insserv.conf.d/net", "$network netd\n$syslog $network\n", 0644},
        {"/etc/insserv.conf.d/old.dpkg-old", "$syslog rsyslog\n", 0644}},
       "netd 1\nlogd 2\nweb 3\nrsyslog 4\n",
       ""},
      {"$all waits for every script that does not wait for $all",
       {{"/etc/init.d/a", Lsb(kRunlevels)},
        {"/etc/init.d/b", Lsb("# Required-Start: a\n" + kRunlevels)},
        {"/etc/init.d/y", Lsb("# Should-Start: $all\n# Required-Start: z\n" + kRunlevels)},
        {"/etc/init.d/z", Lsb("# Required-Start: $all\n" + kRunlevels)}},
       "a 1\nb 2\nz 3\ny 4\n",
       ""},
      {"a dependency cycle is broken with a warning",
       {{"/etc/init.d/p", Lsb("# Required-Start: q\n" + kRunlevels)},
        {"/etc/init.d/q", Lsb("# Required-Start: p\n" + kRunlevels)}},
       "q 1\np 2\n",
       "initScriptLister: warning: dependency cycle: q starts without waiting for p\n"},
      {"field names in any case, continuation lines and CR line ends",
       {{"/etc/init.d/a", Lsb("#default-start: 2\r\n")},
        {"/etc/init.d/b", Lsb("# Default-Start: 2\n#\tRequired-Start: c\n#  Required-Start: c\n")},
        {"/etc/init.d/c", Lsb("# REQUIRED-START:\ta\r\n# Default-Start:\t2\n")}},
       "a 1\nb 1\nc 2\n",
       ""},
      {"only executable regular files of their own are scripts; white space in a name is warned of",
       {{"/etc/init.d/real", Lsb(kRunlevels)},
        Link("/etc/init.d/alias", "../shared/script"),
        {"/etc/shared/script", Lsb(kRunlevels)},
        Link("/etc/init.d/dangling", "/nowhere"),
        {"/etc/init.d/README", Lsb(kRunlevels)},
        {"/etc/init.d/skeleton", Lsb(kRunlevels)},
        {"/etc/init.d/rc", Lsb(kRunlevels)},
        {"/etc/init.d/rcS", Lsb(kRunlevels)},
        {"/etc/init.d/.hidden", Lsb(kRunlevels)},
        {"/etc/init.d/real.dpkg-old", Lsb(kRunlevels)},
        {"/etc/init.d/real.ucf-dist", Lsb(kRunlevels)},
        {"/etc/init.d/real~", Lsb(kRunlevels)},
        {"/etc/init.d/notexec", Lsb(kRunlevels), 0644},
        {"/etc/init.d/fifo", "", 0},
        {"/etc/init.d/dir/x", Lsb(kRunlevels)},
        {"/etc/init.d/two words", Lsb(kRunlevels)},
        Link("/etc/rc2.d/S01README", "../init.d/README"),
        Link("/etc/rc2.d/S01notexec", "../init.d/notexec")},
       "alias 1\nreal 1\n",
       "initScriptLister: warning: leaving out R/etc/init.d/two words: white space in its name\n"},
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
  EXPECT_EQ("", r.out);
  EXPECT_EQ("initScriptLister: cannot read " + box.Path("/etc/init.d") + ": No such file or directory\n", r.err);
}

// This machine's /etc: every line names an executable script of /etc/init.d,
// and the S links of /etc/rc2.d (the default runlevel of a host without
// /etc/inittab) are listed with their numbers, the K links not at all.
TEST(InitScriptListerE2E, ListsThisMachinesOwnInitScripts) {
  if (!fs::is_directory("/etc/init.d") || fs::exists("/etc/inittab")) {
    GTEST_SKIP() << "no /etc/init.d, or a default runlevel from /etc/inittab";
  }
  std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
  RunResult r = RunProcess({BOOTCRANK_STAGE + std::string(kLister), "-p"}, &env, 30);
  ASSERT_EQ(0, r.status) << r.err;
  std::map<std::string, int> listed;
  std::istringstream lines(r.out);
  static const std::regex line("/etc/init\\.d/([^ /]+) (-?[0-9]+)");
  for (std::string text; std::getline(lines, text);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    struct stat st;
    EXPECT_TRUE(stat(("/etc/init.d/" + m[1].str()).c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR))
        << text;
    listed[m[1]] = std::stoi(m[2]);
  }
  std::map<std::string, int> started;  // script -> its lowest S number
  std::set<std::string> stopped;
  std::error_code ignored;
  static const std::regex link("([SK])([0-9][0-9])(.+)");
  for (const auto& entry : fs::directory_iterator("/etc/rc2.d", ignored)) {
    std::smatch m;
    std::string name = entry.path().filename().string();
    if (!std::regex_match(name, m, link) || access(("/etc/init.d/" + m[3].str()).c_str(), X_OK) != 0) continue;
    if (m[1] == "K") {
      stopped.insert(m[3]);
    } else if (!started.count(m[3]) || std::stoi(m[2]) < started[m[3]]) {
      started[m[3]] = std::stoi(m[2]);
    }
  }
  for (const auto& [script, priority] : started) {
    EXPECT_EQ(priority, listed.count(script) ? listed[script] : -1) << script << " in:\n" << r.out;
  }
  for (const std::string& script : stopped) {
    EXPECT_TRUE(started.count(script) || !listed.count(script)) << script << " in:\n" << r.out;
  }
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
