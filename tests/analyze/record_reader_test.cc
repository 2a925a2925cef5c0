// Reading boot records and profiling logs: every member, what is tolerated,
// and the messages for what is refused.
#include "analyze/record_reader.h"

#include <gtest/gtest.h>

#include "analyze/profiling_log.h"
#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

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

// The message of the RecordError that reading `text` throws, or the names of
// the nodes read, barriers after a "|", and a full stop.
std::string Outcome(const std::string& text) {
  try {
    std::string names;
    for (const RecordNode& n : ParseBootRecord(text, "r").nodes)
      names += (n.barrier ? "|" : " ") + n.name;
    return "read:" + names + ".";
  } catch (const RecordError& e) {
    return e.what();
  }
}

TEST(RecordReaderTest, ReadsEveryMemberOfTheSchema) {
  BootRecord r = ParseBootRecord(kFullRecord, "r.json");
  EXPECT_EQ(r.source, BootRecord::Source::kRecord);
  ASSERT_EQ(r.nodes.size(), 3u);  // plugins first, then barriers
  const RecordNode &net = r.nodes[0], &probe = r.nodes[1];
  ASSERT_EQ(net.commands.size(), 2u);
  ASSERT_EQ(r.loadFailures.size() + r.cycles.size() + r.missingBarriers.size(), 3u);
  EXPECT_EQ((std::vector<std::string>{r.programVersion, r.hostName, r.kernel, r.mode, r.signal,
                                      net.name, net.sourceFile, net.result, net.error,
                                      net.commands[1].error, probe.skipReason, r.nodes[2].kind,
                                      r.loadFailures[0].reason, r.cycles[0].droppedTo}),
            (std::vector<std::string>{"1.0.0", "h1", "6.1.0-26-amd64", "init", "SIGTERM", "network",
                                      "/p/network.json", "failed", "command 2 failed",
                                      "No such file", "boot_flags", "init", "not JSON", "b"}));
  EXPECT_EQ((std::vector<int64_t>{r.parallel, r.verbose, r.workers, r.randomSeed, r.start, r.end,
                                  r.uptimeSeconds, r.exitStatus, net.barrier, net.depth, net.worker,
                                  net.commands[1].status, probe.sourceLine, probe.executionClass,
                                  r.nodes[2].barrier, r.nodes[2].worker}),
            (std::vector<int64_t>{1, 1, 4, 7, 1765000000000000, 1765000002500000, 12, 1, 0, 3, 2, 1,
                                  3, 3, 1, 1}));
  EXPECT_EQ((std::vector<int64_t>{net.Duration(), probe.Ran(), r.WorkerCount()}),
            (std::vector<int64_t>{299800, 0, 4}));
  EXPECT_EQ(r.cycles[0].nodes.size(), 3u);
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
    EXPECT_EQ(
        std::tie(l.name, l.barrier, l.after, l.result, l.ready, l.started, l.ended, l.worker),
        std::tie(f.name, f.barrier, f.after, f.result, f.ready, f.started, f.ended, f.worker));
    EXPECT_TRUE(l.commands.empty() && l.sourceFile.empty() && l.requires.empty() && l.error.empty())
        << i;
  }
  EXPECT_EQ(lean.end, full.end);
  EXPECT_EQ(lean.workers, full.workers);
  const char* const cut[] = {
      R"({"schema": 1, "plugins": [{"name": "a", "commands": [{"command": "x\"}]}]})",
      R"({"schema": 1, "plugins": [{"name": "a", "commands": [[[]]})",
      R"({"schema": 1, "plugins": [{"name": "a", "commands": }]})",
      R"({"schema": 1, "plugins": [{"name": "a", "source": {"file": "f"]}]})",
  };
  for (const char* text : cut)
    EXPECT_THROW(ParseBootRecord(text, "r.json", true), RecordError) << text;
  // Escaped quotes and brackets inside skipped strings do not end them.
  BootRecord tricky = ParseBootRecord(
      R"({"schema": 1, "plugins": [{"name": "a", "commands": [{"command": "say \"}] \\", "status": 0}], "started": 5, "ended": 7}]})",
      "r.json", true);
  ASSERT_EQ(tricky.nodes.size(), 1u);
  EXPECT_EQ(tricky.nodes[0].Duration(), 2);
}

// Readers take unknown members anywhere, missing optional ones, nulls, and
// barriers before plugins; what they refuse has a message naming the place.
// Rows marked "fuzz" were found by fuzzing.
TEST(RecordReaderTest, WhatIsToleratedAndWhatIsRefusedWithAMessageNamingThePlace) {
  const std::string head = "HVKernel Initialization Time: 1\n",
                    conf = "=== Bootcrank configuration info ===\n";
  const std::pair<std::string, std::string> cases[] = {
      {R"({"schema": 1})", "read:."},
      {R"({"schema": 1, "future": {"a": [1, {"b": [[]]}]}, "plugins": [{"name": "p", "colour": "red",
          "extra": {"deep": [1, 2]}, "commands": [{"command": "c", "status": 0, "took": 3}]}], "later": [1]})",
       "read: p."},
      {R"({"schema": 1, "signal": null, "plugins": [{"name": "p", "ready": null}]})", "read: p."},
      {R"({"schema": 1, "barriers": [{"name": "b"}], "plugins": [{"name": "p"}]})", "read: p|b."},
      {R"({"schema": "1.3", "plugins": [{"name": "p"}]})", "read: p."},
      {R"({"schema": 2, "plugins": []})",
       "r: record schema version 2 is newer than this program reads (1)"},
      {R"({"schema": 4.4e66})", "r: record schema version 1000000000 is newer"},  // fuzz
      {R"({"schema": "99999999999999999999.1"})",
       "r: record schema version 9223372036854775807 is newer"},
      {R"({"schema": -1.5})", "r: bad record schema version 0"},
      {R"({"plugins": []})", "r: no \"schema\" member: not a boot record"},
      {R"({"schema": 1, "plugins": [{"name": "a"}, {"name": "b", "commands": [{"status": "0"}]}]})",
       "r: plugins[1].commands[0].status: expected an integer, not a string"},
      {R"({"schema": 1, "plugins": [{"name": "a", "after": ["x", 3]}]})",
       "r: plugins[0].after[1]: expected a string, not an integer"},
      {R"({"schema": 1, "barriers": [{"after": []}]})", "r: barriers[0]: no \"name\""},
      {R"({"schema": 1, "plugins": {"name": "a"}})",
       "r: plugins: expected an array, not an object"},
      {R"({"schema": 1, "start": 1.5})",
       "r: start: expected an integer, not a number with a fraction"},
      {R"({"schema": 1, "start": -1})", "r: start: time out of range (microseconds since 1970)"},
      {R"({"schema": 1, "barriers": [{"name": "b", "ended": 99999999999999999}]})",
       "r: barriers[0].ended: time out of range"},
      {R"({"schema": 1, "uptime_seconds": -3})", "r: uptime_seconds: uptime out of range"},
      {R"({"schema": 1, "settings": {"workers": 2000000000}})",  // fuzz
       "r: settings.workers: worker number out of range"},
      {R"({"schema": 1, "plugins": [{"name": "a", "worker": -2}]})",
       "r: plugins[0].worker: worker number out of range"},
      {R"({"schema": 1, "settings": {"workers": true}})",
       "r: settings.workers: expected an integer, not a boolean"},
      {R"([{"schema": 1}])", "r: not a boot record: a JSON array, not an object"},
      {R"({"schema": 1, "plugins": [)", "r: not valid JSON"},
      {"", "r: empty file"},
      {"hello\n", "r: neither a boot record (JSON) nor a profiling log"},
      {head + "[2025-12-06 05:46:40.100000 - 2025-12-06] sysboot: x\n", "r:2: not a plugin line"},
      {head + conf + " Start: yesterday\n", "r:3: bad time stamp"},
      {head + conf + " Parallel: yes\n", "r:3: bad number"},
      {head + "something else\n", "r:2: not a profiling log line"},
      {head, "r: profiling log without its configuration section"},
      {"HVKernel Initialization Time: 9223372036854000000\n", "r:1: uptime out of range"},  // fuzz
  };
  for (const auto& c : cases) {
    std::string outcome = Outcome(c.first);
    EXPECT_EQ(outcome.rfind(c.second, 0), 0u) << c.first << ": " << outcome;
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
  // kBase is the log's start, 2025-12-06 05:46:40 UTC.
  EXPECT_EQ((std::vector<int64_t>{r.uptimeSeconds, r.start, r.end, r.parallel, r.randomize,
                                  r.randomSeed}),
            (std::vector<int64_t>{12, testing::kBase, testing::kBase + 1200000, 1, 1, -5}));
  ASSERT_EQ(r.nodes.size(), 3u);  // the later daemon run is not this boot
  EXPECT_EQ(r.nodes[0].Duration(), 250000);
  EXPECT_FALSE(r.nodes[1].Ran());  // the zero time: never ran
  EXPECT_EQ(r.nodes[2].name, "network");
  EXPECT_EQ(r.nodes[2].result, "");
}

// -1: refused.
TEST(ProfilingLogTest, TimeStamps) {
  const std::pair<const char*, Micros> cases[] = {
      {"1970-01-01 00:00:00.000000", 0},
      {"1970-01-01 00:00:01.250000", 1250000},
      {"2025-12-06 05:46:40.000001", testing::kBase + 1},
      {"2025-12-06 05:46:40.00000", -1},
      {"2025-12-06T05:46:40.000000", -1},
      {"2025-12-06 05:46:40.000000x", -1},
      {"3001-01-01 00:00:00.000000", -1}};
  for (const auto& c : cases) {
    Micros t = -2;
    EXPECT_EQ(ParseLogTimestamp(c.first, &t) ? t : -1, c.second) << c.first;
  }
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
