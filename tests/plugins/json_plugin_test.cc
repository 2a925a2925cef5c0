#include "plugins/json_plugin.h"

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "graph/barrier.h"
#include "graph/graph_lock.h"
#include "plugins/exception.h"

namespace bootcrank {
namespace {

using nlohmann::json;
const json kErase = json::value_t::discarded;

// A valid descriptor of `version` that the cases below break.
json Valid(double version) {
  json d = json::parse(R"({"metadata": {"requires": [], "provides": [], "run_once": false,
      "plugin_version": "1.0"}, "operations": {"start": []}})");
  d["metadata"]["version"] = version;
  return d;
}

// Loads the descriptor at `path` (plugins live for the process, as in a run):
// "loaded", or the reason of the InvalidPluginException.
std::string LoadPath(const std::string& path, JSONPlugin** plugin = nullptr) {
  try {
    JSONPlugin* loaded = new JSONPlugin("p", path);
    if (plugin != nullptr) *plugin = loaded;
    return "loaded";
  } catch (const InvalidPluginException& e) {
    std::string prefix = "plugin `" + path + "' is invalid: ", what = e.what();
    return what.rfind(prefix, 0) == 0 ? what.substr(prefix.size()) : "bad text: " + what;
  }
}

std::string Load(const std::string& text, JSONPlugin** plugin = nullptr) {
  char path[] = "/tmp/bootcrank-json-XXXXXX";
  close(mkstemp(path));
  std::ofstream(path, std::ios::binary) << text;
  std::string result = LoadPath(path, plugin);
  unlink(path);
  return result;
}

JSONPlugin* MustLoad(const json& descriptor) {
  JSONPlugin* plugin = nullptr;
  EXPECT_EQ("loaded", Load(descriptor.dump(), &plugin));
  return plugin;
}

TEST(JSONDescriptorTest, EveryFaultHasItsReasonAndTheFirstWins) {
  struct Case {
    double version;
    std::vector<std::pair<std::string, json>> patches;  // JSON pointer, new value or kErase
    std::string reason;
  };
  const std::string corrupt = "metadata is corrupt (unable to parse ";
  const std::string notString = " tag is not a string";
  const Case cases[] = {
      {1, {{"/metadata", kErase}}, "invalid metadata interface"},
      {1, {{"/metadata", json::array()}}, "invalid metadata interface"},
      {1, {{"/metadata/version", "3"}}, corrupt + "version)"},
      {0.5, {}, "Unsupported API version"},
      {5, {}, "Unsupported API version"},
      {1, {{"/metadata/version", 4294967297ULL}}, "Unsupported API version"},  // no wrap to 1
      {1, {{"/metadata/requires", "a"}}, corrupt + "requires)"},
      {1, {{"/metadata/requires", {"a", 1}}}, "requires" + notString},
      {1, {{"/metadata/provides", kErase}}, corrupt + "provides)"},
      {1, {{"/metadata/provides", {"a", nullptr}}}, "provides" + notString},
      {3, {{"/metadata/required_flags", json::object()}}, corrupt + "required_flags)"},
      {3, {{"/metadata/required_flags", json::array({json::array()})}}, "required_flags" + notString},
      {4, {{"/metadata/disabling_flags", nullptr}}, corrupt + "disabling_flags)"},
      {3, {{"/metadata/disabling_flags", {"x", false}}}, "disabling_flags" + notString},
      {3, {{"/metadata/run_once", kErase}}, corrupt + "run_once)"},
      {3, {{"/metadata/plugin_version", 1.0}}, corrupt + "plugin_version)"},
      {1, {{"/operations", "start"}}, "invalid operations interface"},
      {1, {{"/operations/start", kErase}}, "operations is corrupt (unable to parse start)"},
      {1, {{"/operations/start", {"a", 2}}}, "command is not a string"},
      {2, {{"/operations/apply_host_profile", json::object()}},
       "operations is corrupt (unable to parse apply-host-profile)"},
      {4, {{"/operations/apply_host_profile", {"a", {{"b", 1}}}}}, "command is not a string"},
      // Several faults: the first in check order is reported.
      {1, {{"/metadata/version", 9}, {"/metadata/requires", kErase}}, "Unsupported API version"},
      {1, {{"/metadata/requires", {1}}, {"/metadata/provides", 1}}, "requires" + notString},
      {3, {{"/metadata/provides", {1}}, {"/metadata/run_once", kErase}}, "provides" + notString},
      {3, {{"/metadata/required_flags", 1}, {"/metadata/disabling_flags", 1}},
       corrupt + "required_flags)"},
      {3, {{"/metadata/disabling_flags", 1}, {"/metadata/run_once", kErase}},
       corrupt + "disabling_flags)"},
      {3, {{"/metadata/run_once", "no"}, {"/metadata/plugin_version", kErase}}, corrupt + "run_once)"},
      {3, {{"/metadata/plugin_version", kErase}, {"/operations", kErase}},
       corrupt + "plugin_version)"},
      {2, {{"/operations/start", {false}}, {"/operations/apply_host_profile", 1}},
       "command is not a string"},
  };
  for (const Case& c : cases) {
    json d = Valid(c.version);
    std::string label = std::to_string(c.version);
    for (const auto& [pointer, value] : c.patches) {
      json::json_pointer at(pointer);
      label += " " + pointer + "=" + (value.is_discarded() ? "(erased)" : value.dump());
      if (value.is_discarded()) {
        d[at.parent_pointer()].erase(at.back());
      } else {
        d[at] = value;
      }
    }
    EXPECT_EQ(Load(d.dump()), c.reason) << label;
  }
}

TEST(JSONDescriptorTest, HostileOrUnreadableInputIsRejectedCleanly) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xff);
  for (const std::string& text :
       {std::string(), std::string("[]"), std::string("{\"metadata\": {}"),
        Valid(1).dump() + " trailing", binary,
        std::string(100000, '[') + std::string(100000, ']'),
        std::string(10 * 1024 * 1024, ' ') + "x"}) {
    EXPECT_EQ(Load(text), "plugin root is not an object") << text.substr(0, 40);
  }
  EXPECT_EQ(LoadPath("/nonexistent/missing.json"), "no such file or directory");
}

TEST(JSONPluginTest, VersionCommentsVersion3KeysAndHostProfile) {
  EXPECT_EQ(MustLoad(Valid(2.9))->ApiVersion(), 2);
  JSONPlugin* commented = nullptr;
  EXPECT_EQ("loaded", Load(R"(// a descriptor
    { /* the interface */ "metadata": {"version": 1, "requires": [], "provides": []},
      "operations": {"start": ["file write --path=/x" // one command
      ]}})",
                           &commented));
  ASSERT_NE(commented, nullptr);
  EXPECT_EQ(commented->StartCommands(), std::vector<std::string>{"file write --path=/x"});

  // Version 1: the version 3 keys and the host-profile list are not read.
  for (int version : {1, 3}) {
    json d = Valid(version);
    d["metadata"]["run_once"] = version == 3 ? json(true) : json("not a boolean");
    d["metadata"]["plugin_version"] = "2.1-a";
    d["metadata"]["required_flags"] = {"b", "a", "a"};
    d["metadata"]["disabling_flags"] = {"x"};
    d["operations"]["apply_host_profile"] = {"sysctl set --key=a"};
    JSONPlugin* p = MustLoad(d);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->RunOnce(), version == 3);
    EXPECT_EQ(p->PluginVersion(), version == 3 ? "2.1-a" : "");
    EXPECT_EQ(p->RequiredFlags(), (version == 3 ? std::set<std::string>{"a", "b"}
                                                : std::set<std::string>{}));
    EXPECT_EQ(p->UsesHostProfile(), version == 3);
  }
}

TEST(JSONPluginTest, BarriersAreLinkedInOrderOnlyForAValidDescriptor) {
  json linked = Valid(1);
  linked["metadata"]["requires"] = {"jsonlink-r1", "jsonlink-r2"};
  linked["metadata"]["provides"] = {"jsonlink-p"};
  // Faults after the barrier lists: in the version 3 keys, in operations and
  // inside the provides list.
  for (const auto& [version, pointer, value] : std::vector<std::tuple<int, std::string, json>>{
           {3, "/metadata/plugin_version", 7},
           {2, "/operations/apply_host_profile", {1}},
           {1, "/metadata/provides", {"jsonlink-p", 3}}}) {
    json d = linked;
    d["metadata"]["version"] = version;
    d[json::json_pointer(pointer)] = value;
    EXPECT_NE(Load(d.dump()), "loaded") << pointer;
  }
  for (const char* name : {"jsonlink-r1", "jsonlink-r2", "jsonlink-p"}) {
    InitBarrier* barrier = GetBarrier(name, false);
    GraphLockHolder lock;
    EXPECT_TRUE(barrier == nullptr ||
                (barrier->Dependencies().empty() && barrier->Dependents().empty()))
        << name;
  }
  JSONPlugin* p = MustLoad(linked);
  ASSERT_NE(p, nullptr);
  GraphLockHolder lock;
  EXPECT_EQ(p->Dependencies(), (std::vector<Node*>{GetBarrier("jsonlink-r1", false),
                                                   GetBarrier("jsonlink-r2", false)}));
  EXPECT_EQ(p->Dependents(), std::vector<Node*>{GetBarrier("jsonlink-p", false)});
  EXPECT_EQ(GetBarrier("jsonlink-p", false)->Dependencies(), std::vector<Node*>{p});
}

}  // namespace
}  // namespace bootcrank
