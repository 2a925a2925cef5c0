// Every fixed path of the host that the program reads, writes, runs or binds,
// with what it is. The first group is always used through HostPath (below the
// host root, see host/host_root.h); the last group always means the real
// machine.
//
// Paths that arrive as data (option arguments, the script paths that the
// init-script listing prints, the commands of debug injections, the paths of
// CLI commands) are not listed: they are the user's, not the program's.
#ifndef BOOTCRANK_HOST_HOST_PATHS_H_
#define BOOTCRANK_HOST_HOST_PATHS_H_

namespace bootcrank {
namespace host {

// --- Below the host root -------------------------------------------------

// The boot profiling log: replaced by every full run, appended to by a
// daemon run.
constexpr char kProfilingLogPath[] = "/var/log/sysboot.log";
// The run-once record: gzip'ed list of plugin versions that ran on this host.
constexpr char kRunOnceRecordPath[] = "/bootbank/bootcrnk.gz";
// The plugin directory when --plugin-directory is not given.
constexpr char kPluginDirectoryPath[] = "/usr/libexec/bootcrank/plugins";
// The debug injection file.
constexpr char kDebugConfigPath[] = "/etc/quarro/bootcrank/debug.conf";
// Their existence makes a plugin with a host-profile entry apply the profile.
constexpr char kHostProfilePath[] = "/etc/quarro/hostprofile.xml";
constexpr char kCompressedHostProfilePath[] = "/etc/quarro/hostprofile.xml.gz";
// Its existence (any file type) turns parallel execution off.
constexpr char kStatelessImagePath[] = "/stateless.tgz";

// The syslog daemon, started with "-i" first in init mode.
constexpr char kSyslogDaemonPath[] = "/usr/lib/quarro/hvsyslog/bin/hvsyslogd";
// The syslog daemon's pid file: init mode sends it SIGUSR1 at the end.
constexpr char kSyslogDaemonPidPath[] = "/var/run/quarro/hvsyslogd.pid";
// Its existence makes init mode run the upgrade script at the end.
constexpr char kSyslogConfigPath[] = "/etc/syslog.conf";
// Run through the shell at the end of init mode.
constexpr char kSyslogUpgradeScriptPath[] = "/usr/lib/quarro/hvsyslog/bin/upgrade-syslog.conf.sh";
// The event daemon's init script, run with "start" first in init mode.
constexpr char kEventDaemonScriptPath[] = "/etc/init.d/evtd";
// Lists the init scripts and their priorities when called with "-p".
constexpr char kInitScriptListerPath[] = "/bin/chkconfig";
// The package's lister of the host's SysV init scripts, printing the same
// lines; used where the host has no chkconfig (Debian).
constexpr char kShippedInitScriptListerPath[] = "/usr/lib/quarro/bootcrank/initScriptLister";
// The run lock: one run per host root at a time.
constexpr char kRunLockPath[] = "/var/run/quarro/bootcrank.lock";
// The boot records, one JSON file per run.
constexpr char kBootRecordDirectoryPath[] = "/var/log/bootcrank";

// The CLI executor program, started by the run as a fresh image.
constexpr char kCliExecutorPath[] = "/usr/lib/quarro/bootcrank/hvcliExecutor";
// The CLI executor's control socket (UNIX stream socket).
constexpr char kControlSocketPath[] = "/var/run/quarro/bootcrankExecutor.sock";
// Standard output and error of the CLI executor process (appended to).
constexpr char kExecutorOutputLogPath[] = "/var/log/bootcrank-hvcli-stdout.log";
// The CLI extension directories, in the order their extensions register.
constexpr const char* kCliExtensionDirectoryPaths[] = {
    "/usr/lib/quarro/hvcli", "/usr/lib/quarro/hvcli/int", "/usr/lib/quarro/hvcli/int/ext",
    "/usr/lib/quarro/hvcli/ext"};
// Runs one method of a native plugin in a child process.
constexpr char kNativeExecutorPath[] = "/usr/lib/quarro/bootcrank/nativeExecutor";

// The kernel's system log device.
constexpr char kKernelLogPath[] = "/dev/kmsg";
// Standard error of init scripts run by daemon plugins.
constexpr char kLogDevicePath[] = "/dev/log";
// The console whose virtual terminals interactive mode switches.
constexpr char kConsolePath[] = "/dev/console";

// --- Always the real machine ---------------------------------------------

constexpr char kNullDevicePath[] = "/dev/null";
// The shell of debug commands, the upgrade script, the init-script listing
// and the troubleshooting shell.
constexpr char kShellPath[] = "/bin/sh";
// The working directory of the program and its children.
constexpr char kRootDirectoryPath[] = "/";
// The kernel's list of this process's descriptors.
constexpr char kOwnDescriptorsPath[] = "/proc/self/fd";

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_HOST_PATHS_H_
