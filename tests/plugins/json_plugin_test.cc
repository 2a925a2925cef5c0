#include "plugins/json_plugin.h"

#include <stdlib.h>
#include <sys/stat.h>
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
  return {{"metadata",
           {{"version", version},
            {"requires", json::array()},
            {"provides", json::array()},
            {"run_once", false},
            {"plugin_version", "1.0"}}},
          {"operations", {{"start", json::array()}}}};
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
    const char* reason;
  };
  const std::string corrupt = "metadata is corrupt (unable to parse ";
  const Case cases[] = {
      {1, {{"/metadata", kErase}}, "invalid metadata interface"},
      {1, {{"/metadata", json::array()}}, "invalid metadata interface"},
      {1, {{"/metadata/version", kErase}}, "metadata is corrupt (unable to parse version)"},
      {1, {{"/metadata/version", "3"}}, "metadata is corrupt (unable to parse version)"},
      {0.5, {}, "Unsupported API version"},
      {5, {}, "Unsupported API version"},
      {1, {{"/metadata/version", 4294967297ULL}}, "Unsupported API version"},  // no wrap to 1
      {1, {{"/metadata/requires", "a"}}, "metadata is corrupt (unable to parse requires)"},
      {1, {{"/metadata/requires", {"a", 1}}}, "requires tag is not a string"},
      {1, {{"/metadata/provides", kErase}}, "metadata is corrupt (unable to parse provides)"},
      {1, {{"/metadata/provides", {"a", nullptr}}}, "provides tag is not a string"},
      {3, {{"/metadata/required_flags", json::object()}},
       "metadata is corrupt (unable to parse required_flags)"},
      {3, {{"/metadata/required_flags", json::array({json::array()})}}, "required_flags tag is not a string"},
      {4, {{"/metadata/disabling_flags", nullptr}},
       "metadata is corrupt (unable to parse disabling_flags)"},
      {3, {{"/metadata/disabling_flags", {"x", false}}}, "disabling_flags tag is not a string"},
      {3, {{"/metadata/run_once", kErase}}, "metadata is corrupt (unable to parse run_once)"},
      {3, {{"/metadata/plugin_version", 1.0}},
       "metadata is corrupt (unable to parse plugin_version)"},
      {1, {{"/operations", "start"}}, "invalid operations interface"},
      {1, {{"/operations/start", kErase}}, "operations is corrupt (unable to parse start)"},
      {1, {{"/operations/start", {"a", 2}}}, "command is not a string"},
      {2, {{"/operations/apply_host_profile", json::object()}},
       "operations is corrupt (unable to parse apply-host-profile)"},
      {4, {{"/operations/apply_host_profile", {"a", {{"b", 1}}}}}, "command is not a string"},
      // Several faults: the first in check order is reported.
      {1, {{"/metadata/version", 9}, {"/metadata/requires", kErase}}, "Unsupported API version"},
      {1, {{"/metadata/requires", {1}}, {"/metadata/provides", 1}}, "requires tag is not a string"},
      {3, {{"/metadata/provides", {1}}, {"/metadata/run_once", kErase}},
       "provides tag is not a string"},
      {3, {{"/metadata/required_flags", 1}, {"/metadata/disabling_flags", 1}},
       "metadata is corrupt (unable to parse required_flags)"},
      {3, {{"/metadata/disabling_flags", 1}, {"/metadata/run_once", kErase}},
       "metadata is corrupt (unable to parse disabling_flags)"},
      {3, {{"/metadata/run_once", "no"}, {"/metadata/plugin_version", kErase}},
       "metadata is corrupt (unable to parse run_once)"},
      {3, {{"/metadata/plugin_version", kErase}, {"/operations", kErase}},
       "metadata is corrupt (unable to parse plugin_version)"},
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
  // A directory and a FIFO without a writer neither hang nor load.
  char dir[] = "/tmp/bootcrank-json-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string fifo = std::string(dir) + "/fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_NE(LoadPath(dir), "loaded");
  EXPECT_NE(LoadPath(fifo), "loaded");
  unlink(fifo.c_str());
  rmdir(dir);
}

TEST(JSONPluginTest, VersionCommentsAndVersion3Keys) {
  EXPECT_EQ(MustLoad(Valid(2.9))->ApiVersion(), 2);
  JSONPlugin* commented = nullptr;
  EXPECT_EQ("loaded", Load(R"(// a descriptor
    { /* the interface */ "metadata": {"version": 1, "requires": [], "provides": []},
      "operations": {"start": ["file write --path=/x" // one command
      ]}})",
                           &commented));
  ASSERT_NE(commented, nullptr);
  EXPECT_EQ(commented->StartCommands(), std::vector<std::string>{"file write --path=/x"});

  for (double version : {2.0, 3.0}) {
    json d = Valid(version);
    d["metadata"]["run_once"] = true;
    d["metadata"]["plugin_version"] = "2.1-a";
    d["metadata"]["required_flags"] = {"b", "a", "a"};
    d["metadata"]["disabling_flags"] = {"x"};
    if (version == 2) d["metadata"]["run_once"] = "ignored below version 3";
    JSONPlugin* p = MustLoad(d);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->RunOnce(), version == 3);
    EXPECT_EQ(p->PluginVersion(), version == 3 ? "2.1-a" : "");
    EXPECT_EQ(p->RequiredFlags(), (version == 3 ? std::set<std::string>{"a", "b"}
                                                : std::set<std::string>{}));
    EXPECT_EQ(p->DisablingFlags().size(), version == 3 ? 1u : 0u);
  }
}

TEST(JSONPluginTest, HostProfileCommandsFromVersion2) {
  json d = Valid(1);
  d["operations"]["apply_host_profile"] = {"a", "b"};
  JSONPlugin* v1 = MustLoad(d);
  d["metadata"]["version"] = 2;
  JSONPlugin* v2 = MustLoad(d);
  ASSERT_TRUE(v1 != nullptr && v2 != nullptr);
  EXPECT_FALSE(v1->UsesHostProfile());
  EXPECT_TRUE(v1->HostProfileCommands().empty());
  EXPECT_THROW(v1->ApplyHostProfile(), NotImplementedException);
  EXPECT_TRUE(v2->UsesHostProfile());
  EXPECT_EQ(v2->HostProfileCommands(), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(MustLoad(Valid(2))->UsesHostProfile());
}

TEST(JSONPluginTest, BarriersAreLinkedInOrderOnlyForAValidDescriptor) {
  // Faults after the barrier lists: in the version 3 keys, in operations and
  // inside the provides list.
  for (const auto& [version, pointer, value] : std::vector<std::tuple<int, std::string, json>>{
           {3, "/metadata/plugin_version", 7},
           {2, "/operations/apply_host_profile", {1}},
           {1, "/metadata/provides", {"jsonlink-p", 3}}}) {
    json d = Valid(version);
    d["metadata"]["requires"] = {"jsonlink-r1", "jsonlink-r2"};
    d["metadata"]["provides"] = {"jsonlink-p"};
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
  json d = Valid(1);
  d["metadata"]["requires"] = {"jsonlink-r1", "jsonlink-r2"};
  d["metadata"]["provides"] = {"jsonlink-p"};
  JSONPlugin* p = MustLoad(d);
  InitBarrier* r1 = GetBarrier("jsonlink-r1", false);
  InitBarrier* provided = GetBarrier("jsonlink-p", false);
  ASSERT_TRUE(p != nullptr && r1 != nullptr && provided != nullptr);
  GraphLockHolder lock;
  EXPECT_EQ(p->Dependencies(), (std::vector<Node*>{r1, GetBarrier("jsonlink-r2", false)}));
  EXPECT_EQ(p->Dependents(), std::vector<Node*>{provided});
  EXPECT_EQ(r1->Dependents(), std::vector<Node*>{p});
  EXPECT_EQ(provided->Dependencies(), std::vector<Node*>{p});
}

}  // namespace
}  // namespace bootcrank
