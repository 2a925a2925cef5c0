// Reading boot records and profiling logs: every member, what is tolerated,
// and the messages for what is refused.
#include "analyze/record_reader.h"

#include <gtest/gtest.h>

#include "analyze/profiling_log.h"
#include "analyze/record_files.h"
#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::ScratchDir;

const char kFullRecord[] = R"({
 "schema": 1,
 "program": {"name": "bootcrank", "version": "1.0.0"},
 "host": {"name": "h1", "kernel": "6.1.0-26-amd64"},
 "mode": "init",
 "arguments": ["--init", "--parallel"],
 "boot_flags": ["secure"],
 "settings": {"parallel": true, "workers": 4, "randomize": false, "random_seed": 7, "interactive": false,
              "verbose": true, "plugin_directory": "/usr/libexec/bootcrank/plugins", "method": "",
              "daemon_wait": false, "daemon_wait_timeout": 40},
 "start": 1765000000000000, "end": 1765000002500000, "uptime_seconds": 12,
 "exit_status": 1, "signal": "SIGTERM",
 "plugins": [
   {"name": "network", "kind": "json", "source": {"file": "/p/network.json"},
    "requires": ["storage"], "provides": ["network"], "execution_class": 1, "depth": 3,
    "after": ["storage"], "result": "failed", "error": "command 2 failed",
    "ready": 1765000000100000, "started": 1765000000100200, "ended": 1765000000400000, "worker": 2,
    "commands": [{"command": "file write --path=/x --content=y", "status": 0},
                 {"command": "sysctl set --key=a --value=1", "status": 1, "error": "No such file"}]},
   {"name": "probe", "kind": "debug", "source": {"file": "/etc/quarro/bootcrank/debug.conf", "line": 3},
    "result": "skipped", "skip_reason": "boot_flags", "execution_class": 3}
 ],
 "barriers": [{"name": "storage", "kind": "init", "after": [], "ready": 1765000000000100,
               "started": 1765000000000200, "ended": 1765000000000300, "worker": 1}],
 "load_failures": [{"file": "/p/bad.json", "reason": "not JSON"}],
 "cycles": [{"nodes": ["a", "b", "a"], "dropped": {"from": "a", "to": "b"}}],
 "missing_barriers": [{"name": "netwrk", "required_by": ["ntp", "dns"]}]
})";

// The message of the RecordError that `read` throws, or "accepted".
template <typename Read>
std::string Refusal(Read read) {
  try {
    read();
  } catch (const RecordError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(RecordReaderTest, ReadsEveryMemberOfTheSchema) {
  BootRecord r = ParseBootRecord(kFullRecord, "r.json");
  EXPECT_EQ(r.source, BootRecord::Source::kRecord);
  ASSERT_EQ(r.nodes.size(), 3u);  // plugins first, then barriers
  const RecordNode &net = r.nodes[0], &probe = r.nodes[1];
  ASSERT_EQ(net.commands.size(), 2u);
  ASSERT_EQ(r.loadFailures.size() + r.cycles.size() + r.missingBarriers.size(), 3u);
  const std::pair<std::string, std::string> strings[] = {
      {r.programVersion, "1.0.0"}, {r.hostName, "h1"}, {r.kernel, "6.1.0-26-amd64"}, {r.mode, "init"},
      {r.signal, "SIGTERM"}, {net.name, "network"}, {net.sourceFile, "/p/network.json"}, {net.result, "failed"},
      {net.error, "command 2 failed"}, {net.commands[1].error, "No such file"}, {probe.skipReason, "boot_flags"},
      {r.nodes[2].kind, "init"}, {r.loadFailures[0].reason, "not JSON"}, {r.cycles[0].droppedTo, "b"}};
  for (const auto& s : strings) EXPECT_EQ(s.first, s.second);
  const std::pair<int64_t, int64_t> numbers[] = {
      {r.parallel, 1}, {r.verbose, 1}, {r.workers, 4}, {r.randomSeed, 7}, {r.start, 1765000000000000},
      {r.end, 1765000002500000}, {r.uptimeSeconds, 12}, {r.exitStatus, 1}, {net.barrier, 0}, {net.depth, 3},
      {net.Duration(), 299800}, {net.worker, 2}, {net.commands[1].status, 1}, {probe.sourceLine, 3},
      {probe.executionClass, 3}, {probe.Ran(), 0}, {r.nodes[2].barrier, 1}, {r.nodes[2].worker, 1},
      {r.cycles[0].nodes.size(), 3}, {r.WorkerCount(), 4}};
  for (size_t i = 0; i < std::size(numbers); ++i) EXPECT_EQ(numbers[i].first, numbers[i].second) << i;
  EXPECT_EQ(r.arguments, (std::vector<std::string>{"--init", "--parallel"}));
  EXPECT_EQ(r.bootFlags, std::vector<std::string>{"secure"});
  EXPECT_EQ(net.requires, std::vector<std::string>{"storage"});
  EXPECT_EQ(net.provides, std::vector<std::string>{"network"});
  EXPECT_EQ(net.after, std::vector<std::string>{"storage"});
  EXPECT_EQ(r.missingBarriers[0].requiredBy, (std::vector<std::string>{"ntp", "dns"}));
}

// A lean reading keeps what fleet statistics need and passes over the rest
// unparsed, but still finds where a skipped member's text is cut short.
TEST(RecordReaderTest, LeanReadingKeepsTheTimesAndSkipsTheRest) {
  BootRecord full = ParseBootRecord(kFullRecord, "r.json");
  BootRecord lean = ParseBootRecord(kFullRecord, "r.json", true);
  ASSERT_EQ(lean.nodes.size(), full.nodes.size());
  for (size_t i = 0; i < full.nodes.size(); ++i) {
    const RecordNode &f = full.nodes[i], &l = lean.nodes[i];
    EXPECT_EQ(std::tie(l.name, l.barrier, l.after, l.result, l.ready, l.started, l.ended, l.worker),
              std::tie(f.name, f.barrier, f.after, f.result, f.ready, f.started, f.ended, f.worker));
    EXPECT_TRUE(l.commands.empty() && l.sourceFile.empty() && l.requires.empty() && l.error.empty()) << i;
  }
  EXPECT_EQ(lean.end, full.end);
  EXPECT_EQ(lean.workers, full.workers);
  const char* const cut[] = {
      R"({"schema": 1, "plugins": [{"name": "a", "commands": [{"command": "x\"}]}]})",
      R"({"schema": 1, "plugins": [{"name": "a", "commands": [[[]]})",
      R"({"schema": 1, "plugins": [{"name": "a", "commands": }]})",
      R"({"schema": 1, "plugins": [{"name": "a", "source": {"file": "f"]}]})",
  };
  for (const char* text : cut) EXPECT_THROW(ParseBootRecord(text, "r.json", true), RecordError) << text;
  // Escaped quotes and brackets inside skipped strings do not end them.
  BootRecord tricky = ParseBootRecord(
      R"({"schema": 1, "plugins": [{"name": "a", "commands": [{"command": "say \"}] \\", "status": 0}], "started": 5, "ended": 7}]})",
      "r.json", true);
  ASSERT_EQ(tricky.nodes.size(), 1u);
  EXPECT_EQ(tricky.nodes[0].Duration(), 2);
}

// What readers must tolerate: unknown members anywhere, missing optional
// ones, nulls, and the barriers coming before the plugins.
TEST(RecordReaderTest, ToleratesUnknownAndMissingMembers) {
  struct Case {
    const char* name;
    const char* text;
    size_t nodes;
  };
  const Case cases[] = {
      {"minimal", R"({"schema": 1})", 0},
      {"unknown scalars, objects and arrays",
       R"({"schema": 1, "future": {"a": [1, {"b": [[]]}]}, "plugins": [{"name": "p", "colour": "red",
          "extra": {"deep": [1, 2]}, "commands": [{"command": "c", "status": 0, "took": 3}]}], "later": [1]})",
       1},
      {"nulls for optional members", R"({"schema": 1, "signal": null, "plugins": [{"name": "p", "ready": null}]})", 1},
      {"barriers first", R"({"schema": 1, "barriers": [{"name": "b"}], "plugins": [{"name": "p"}]})", 2},
      {"minor version text", R"({"schema": "1.3", "plugins": [{"name": "p"}]})", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BootRecord r = ParseBootRecord(c.text, "r.json");
    ASSERT_EQ(r.nodes.size(), c.nodes);
    if (c.nodes == 2) {
      EXPECT_FALSE(r.nodes[0].barrier);  // plugins first whatever the file order
      EXPECT_TRUE(r.nodes[1].barrier);
    }
  }
}

TEST(RecordReaderTest, RecordsAndProfilingLogsAreRefusedWithAMessageNamingThePlace) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {R"({"schema": 2, "plugins": []})", "r.json: record schema version 2 is newer than this program reads (1)"},
      {R"({"schema": 4.4e66})", "r.json: record schema version 1000000000 is newer"},  // found by fuzzing
      {R"({"schema": "99999999999999999999.1"})", "r.json: record schema version 9223372036854775807 is newer"},
      {R"({"schema": -1.5})", "r.json: bad record schema version 0"},
      {R"({"plugins": []})", "r.json: no \"schema\" member: not a boot record"},
      {R"({"schema": 1, "plugins": [{"name": "a"}, {"name": "b", "started": "soon"}]})",
       "r.json: plugins[1].started: expected an integer, not a string"},
      {R"({"schema": 1, "plugins": [{"name": "a", "after": ["x", 3]}]})",
       "r.json: plugins[0].after[1]: expected a string, not an integer"},
      {R"({"schema": 1, "barriers": [{"after": []}]})", "r.json: barriers[0]: no \"name\""},
      {R"({"schema": 1, "plugins": {"name": "a"}})", "r.json: plugins: expected an array, not an object"},
      {R"({"schema": 1, "start": 1.5})", "r.json: start: expected an integer, not a number with a fraction"},
      {R"({"schema": 1, "start": -1})", "r.json: start: time out of range (microseconds since 1970)"},
      {R"({"schema": 1, "barriers": [{"name": "b", "ended": 99999999999999999}]})",
       "r.json: barriers[0].ended: time out of range"},
      {R"({"schema": 1, "uptime_seconds": -3})", "r.json: uptime_seconds: uptime out of range"},
      {R"({"schema": 1, "settings": {"workers": 2000000000}})", "r.json: settings.workers: worker number out of range"},  // found by fuzzing
      {R"({"schema": 1, "plugins": [{"name": "a", "worker": -2}]})", "r.json: plugins[0].worker: worker number out of range"},
      {R"({"schema": 1, "settings": {"workers": true}})", "r.json: settings.workers: expected an integer, not a boolean"},
      {R"({"schema": 1, "plugins": [{"name": "a", "commands": [{"status": "0"}]}]})",
       "r.json: plugins[0].commands[0].status: expected an integer, not a string"},
      {R"([{"schema": 1}])", "r.json: not a boot record: a JSON array, not an object"},
      {R"({"schema": 1, "plugins": [)", "r.json: not valid JSON"},
      {"{\"schema\": 1} trailing", "r.json: not valid JSON"},
      {"", "r.json: empty file"},
      {"hello\n", "r.json: neither a boot record (JSON) nor a profiling log"},
      {"HVKernel Initialization Time: 1\n[2025-12-06 05:46:40.100000 - 2025-12-06] sysboot: x\n",
       "r.json:2: not a plugin line"},
      {"HVKernel Initialization Time: 1\n=== Bootcrank configuration info ===\n Start: yesterday\n",
       "r.json:3: bad time stamp"},
      {"HVKernel Initialization Time: 1\n=== Bootcrank configuration info ===\n Parallel: yes\n",
       "r.json:3: bad number"},
      {"HVKernel Initialization Time: 1\nsomething else\n", "r.json:2: not a profiling log line"},
      {"HVKernel Initialization Time: 1\n", "r.json: profiling log without its configuration section"},
      {"HVKernel Initialization Time: 9223372036854000000\n", "r.json:1: uptime out of range"},  // found by fuzzing
  };
  for (const Case& c : cases) {
    std::string message = Refusal([&] { ParseBootRecord(c.text, "r.json"); });
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.text << ": " << message;
  }
}

const char kProfilingLog[] =
    "HVKernel Initialization Time: 12000000\n"
    "[2025-12-06 05:46:40.100000 - 2025-12-06 05:46:40.350000] sysboot: storage\n"
    "[1970-01-01 00:00:00.000000 - 1970-01-01 00:00:00.000000] sysboot: firstboot\n"
    "[2025-12-06 05:46:40.350100 - 2025-12-06 05:46:41.000000] sysboot: network\n"
    "=== Bootcrank configuration info ===\n"
    " Start: 2025-12-06 05:46:40.000000\n"
    " End: 2025-12-06 05:46:41.200000\n"
    " Verbose: 0\n"
    " Parallel: 1\n"
    " Randomize: 1\n"
    " Interactive Mode: 0\n"
    " Random Seed: -5\n"
    "[2025-12-06 06:00:00.000000 - 2025-12-06 06:00:01.000000] daemon: evtd\n"
    "=== Daemon configuration info ===\n"
    " Start Daemon: 2025-12-06 06:00:00.000000\n";

TEST(ProfilingLogTest, ReadsTheBootSectionOnly) {
  BootRecord r = ParseBootRecord(kProfilingLog, "sysboot.log");
  EXPECT_EQ(r.source, BootRecord::Source::kProfilingLog);
  EXPECT_FALSE(r.HasGraph());
  EXPECT_NE(r.Missing().find("dependencies"), std::string::npos);
  EXPECT_EQ(r.uptimeSeconds, 12);
  EXPECT_EQ(r.start, testing::kBase);  // 2025-12-06 05:46:40 UTC
  EXPECT_EQ(r.end, testing::kBase + 1200000);
  EXPECT_TRUE(r.parallel);
  EXPECT_TRUE(r.randomize);
  EXPECT_EQ(r.randomSeed, -5);
  ASSERT_EQ(r.nodes.size(), 3u);  // the later daemon run is not this boot
  EXPECT_EQ(r.nodes[0].Duration(), 250000);
  EXPECT_FALSE(r.nodes[1].Ran());  // the zero time: never ran
  EXPECT_EQ(r.nodes[2].name, "network");
  EXPECT_EQ(r.nodes[2].result, "");
}

TEST(ProfilingLogTest, TimeStamps) {
  struct Case {
    const char* text;
    bool ok;
    Micros value;
  };
  const Case cases[] = {{"1970-01-01 00:00:00.000000", true, 0},     {"1970-01-01 00:00:01.250000", true, 1250000},
                        {"2025-12-06 05:46:40.000001", true, testing::kBase + 1},
                        {"2025-12-06 05:46:40.00000", false, 0},   {"2025-12-06T05:46:40.000000", false, 0},
                        {"2025-12-06 05:46:40.000000x", false, 0}, {"3001-01-01 00:00:00.000000", false, 0}};
  for (const Case& c : cases) {
    Micros t = -1;
    EXPECT_EQ(ParseLogTimestamp(c.text, &t), c.ok) << c.text;
    if (c.ok) { EXPECT_EQ(t, c.value) << c.text; }
  }
}

TEST(RecordFilesTest, NewestIsTheGreatestNameBelowTheHostRoot) {
  ScratchDir root;
  setenv("BOOTCRANK_ROOT", root.path.c_str(), 1);
  EXPECT_THROW(NewestRecord(), RecordError);  // no directory yet
  root.Write("var/log/bootcrank/20261206T091500.000001Z.json", "{}");
  root.Write("var/log/bootcrank/20261207T000000.000000Z.json", "{}");
  root.Write("var/log/bootcrank/20261208T000000.000000Z.json.tmp", "{}");
  root.Write("var/log/bootcrank/.20261209T000000.000000Z.json", "{}");
  EXPECT_EQ(NewestRecord(), root.path + "/var/log/bootcrank/20261207T000000.000000Z.json");
  unsetenv("BOOTCRANK_ROOT");
}

TEST(RecordReaderTest, UnreadableFileNamesThePathAndTheSystemError) {
  ScratchDir dir;
  EXPECT_EQ(Refusal([&] { ReadBootRecord(dir.path + "/absent.json"); }),
            dir.path + "/absent.json: cannot open: No such file or directory");
  EXPECT_EQ(Refusal([&] { ReadBootRecord(dir.path); }), dir.path + ": cannot read: Is a directory");
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
