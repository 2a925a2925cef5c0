// The boot record: its contents, who writes one, and that the newest twenty stay.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

using json = nlohmann::json;

std::vector<std::string> RecordNames(const Sandbox& box) {
  std::vector<std::string> names;
  std::error_code none;  // no directory: no names
  for (const auto& entry : std::filesystem::directory_iterator(box.Path("/var/log/bootcrank"), none)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

const json* Find(const json& list, const std::string& name) {
  for (const json& entry : list) {
    if (entry.value("name", "") == name) return &entry;
  }
  return nullptr;
}

TEST(BootRecordE2E, OneRunRecordsEveryPluginItsOutcomeAndTheGraphsProblems) {
  Sandbox box;
  box.WritePlugin("good.json", Descriptor("", "\"good-done\"",
                                          "\"file write --path=/var/run/quarro/g --content=1\""));
  box.WritePlugin("bad.json", Descriptor("\"good-done\"", "", "\"no such command\""));
  box.WritePlugin("flagged.json",
                  MarkingDescriptor("flagged", ", \"required_flags\": [\"never\"]"));
  box.WritePlugin("broken.json", "{ not json");
  box.WritePlugin("a.json", Descriptor("\"b-done\"", "\"a-done\"", ""));
  box.WritePlugin("b.json", Descriptor("\"a-done\"", "\"b-done\"", ""));
  box.WriteFile("/etc/quarro/bootcrank/debug.conf", "\nlost:nowhere:lost-done:true\n");
  RunResult run = RunExpecting(box, {"--parallel", "--plugin-flags=x"});
  ASSERT_EQ(1u, RecordNames(box).size()) << run.out;
  json record = json::parse(box.ReadFile("/var/log/bootcrank/" + RecordNames(box)[0]));
  EXPECT_EQ(1, record["schema"]);
  EXPECT_EQ("plain", record["mode"]);
  EXPECT_EQ((std::vector<std::string>{"--parallel", "--plugin-flags=x"}), record["arguments"]);
  EXPECT_EQ(0, record["exit_status"]);
  EXPECT_TRUE(record["signal"].is_null());
  EXPECT_LE(record["start"].get<int64_t>(), record["end"].get<int64_t>());

  struct Case {
    const char* name;
    const char* kind;
    const char* result;
    const char* detail;  // error or skip reason; "" for none
    bool ran;
  };
  for (const Case& c : {Case{"good", "json", "succeeded", "", true},
                        Case{"bad", "json", "failed", "bad->start() failed: error while executing the cli", true},
                        Case{"flagged", "json", "skipped", "boot_flags", false},
                        Case{"lost", "debug", "succeeded", "", true}}) {
    SCOPED_TRACE(c.name);
    const json* plugin = Find(record["plugins"], c.name);
    ASSERT_NE(nullptr, plugin) << record.dump(1);
    EXPECT_EQ(c.kind, (*plugin)["kind"]);
    EXPECT_EQ(c.result, (*plugin)["result"]);
    EXPECT_EQ(c.detail, plugin->value("error", plugin->value("skip_reason", "")));
    EXPECT_EQ(c.ran, plugin->contains("started") && plugin->contains("ended") && plugin->contains("worker"));
    if (c.ran) {
      EXPECT_LE((*plugin)["ready"].get<int64_t>(), (*plugin)["started"].get<int64_t>());
    }
  }
  const json& bad = *Find(record["plugins"], "bad");
  EXPECT_EQ(json::array({"good-done"}), bad["requires"]);
  EXPECT_EQ(json::array({"good-done"}), bad["after"]);
  ASSERT_EQ(1u, bad["commands"].size());
  EXPECT_EQ(1, bad["commands"][0]["status"]);
  EXPECT_EQ("Unknown command or namespace: no such command", bad["commands"][0]["error"]);
  // The good plugin ended before the barrier it provides let the bad one go.
  const json& good = *Find(record["plugins"], "good");
  EXPECT_LE(good["ended"].get<int64_t>(), bad["ready"].get<int64_t>());
  EXPECT_EQ(json({{"file", box.Path("/etc/quarro/bootcrank/debug.conf")}, {"line", 2}}),
            (*Find(record["plugins"], "lost"))["source"]);

  ASSERT_EQ(1u, record["load_failures"].size());
  EXPECT_EQ(box.PluginDir() + "/broken.json", record["load_failures"][0]["file"]);
  ASSERT_EQ(1u, record["cycles"].size());
  EXPECT_EQ(4, record["cycles"][0]["length"]);  // two plugins and their two barriers
  EXPECT_EQ(json::array({json({{"name", "nowhere"}, {"required_by", {"lost"}}})}), record["missing_barriers"]);
  EXPECT_NE(nullptr, Find(record["barriers"], "good-done"));
}

TEST(BootRecordE2E, DumpsAndInvokeRunsWriteNoneAndTheNewestTwentyStay) {
  Sandbox box;
  box.WritePlugin("p.json", MarkingDescriptor("p"));
  RunExpecting(box, {"--dump-dependency-tree"});
  RunExpecting(box, {"--invoke", "--method=start", "--plugin=p.json"});
  EXPECT_EQ(std::vector<std::string>{}, RecordNames(box));
  box.WriteFile("/var/log/bootcrank/notes.txt", "kept");
  for (int i = 0; i < 22; ++i) {
    box.WriteFile("/var/log/bootcrank/2000010" + std::to_string(i / 10) + "T0000" + std::to_string(i % 10) +
                      "0.000000Z.json",
                  "{}");
  }
  RunExpecting(box, {});
  std::vector<std::string> names = RecordNames(box);
  ASSERT_EQ(21u, names.size());  // twenty records and the notes
  EXPECT_EQ("notes.txt", names.back());
  EXPECT_EQ("20000100T000030.000000Z.json", names.front());  // the three oldest went
  EXPECT_EQ("plain", json::parse(box.ReadFile("/var/log/bootcrank/" + names[names.size() - 2]))["mode"]);
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
