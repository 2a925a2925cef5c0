#include "plugins/json_plugin.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "graph/barrier.h"
#include "graph/graph.h"
#include "plugins/json_descriptor.h"
#include "base/graph_lock.h"
#include "base/exception.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace {

using nlohmann::json;
const json kErase = json::value_t::discarded;

json Valid(double version) {
  json d = json::parse(R"({"metadata": {"requires": [], "provides": [], "run_once": false,
      "plugin_version": "1.0"}, "operations": {"start": []}})");
  d["metadata"]["version"] = version;
  return d;
}

// Loads descriptor `text` (or the file `path`) into `graph` (or a scratch
// graph): "loaded", or the reason.
std::string Load(const std::string& text, JSONPlugin** plugin = nullptr, Graph* graph = nullptr,
                 std::string path = "") {
  testing::TempRoot root;
  root.Write("p.json", text);
  if (path.empty()) path = root.Path("p.json");
  Graph scratch;
  graph = graph != nullptr ? graph : &scratch;
  try {
    JSONPlugin* loaded = graph->Add(std::make_unique<JSONPlugin>(*graph, "p", path));
    if (plugin != nullptr) *plugin = loaded;
    return "loaded";
  } catch (const InvalidPluginException& e) {
    std::string prefix = "plugin `" + path + "' is invalid: ";
    return std::string(e.what()).rfind(prefix, 0) == 0 ? e.what() + prefix.size() : e.what();
  }
}

TEST(JSONDescriptorTest, EveryFaultHasItsReasonAndTheFirstWins) {
  const std::string corrupt = "metadata is corrupt (unable to parse ",
                    notString = " tag is not a string";
  const struct {
    double version;
    std::vector<std::pair<std::string, json>> patches;  // JSON pointer, new value or kErase
    std::string reason;
  } cases[] = {
      {1, {{"/metadata", kErase}}, "invalid metadata interface"},
      {1, {{"/metadata/version", "3"}}, corrupt + "version)"},
      {5, {}, "Unsupported API version"},
      {1, {{"/metadata/version", 4294967297ULL}}, "Unsupported API version"},  // no wrap to 1
      {1, {{"/metadata/requires", "a"}}, corrupt + "requires)"},
      {1, {{"/metadata/provides", kErase}}, corrupt + "provides)"},
      {1, {{"/metadata/provides", {"a", nullptr}}}, "provides" + notString},
      {3, {{"/metadata/required_flags", json::object()}}, corrupt + "required_flags)"},
      {4, {{"/metadata/disabling_flags", nullptr}}, corrupt + "disabling_flags)"},
      {3, {{"/metadata/run_once", kErase}}, corrupt + "run_once)"},
      {3, {{"/metadata/plugin_version", 1.0}}, corrupt + "plugin_version)"},
      {1, {{"/operations", "start"}}, "invalid operations interface"},
      {1, {{"/operations/start", kErase}}, "operations is corrupt (unable to parse start)"},
      {1, {{"/operations/start", {"a", 2}}}, "command is not a string"},
      {2,
       {{"/operations/apply_host_profile", json::object()}},
       "operations is corrupt (unable to parse apply-host-profile)"},
      // Several faults: the first in check order is reported.
      {1, {{"/metadata/version", 9}, {"/metadata/requires", kErase}}, "Unsupported API version"},
      {1, {{"/metadata/requires", {1}}, {"/metadata/provides", 1}}, "requires" + notString},
      {3,
       {{"/metadata/run_once", "no"}, {"/metadata/plugin_version", kErase}},
       corrupt + "run_once)"},
      {3,
       {{"/metadata/plugin_version", kErase}, {"/operations", kErase}},
       corrupt + "plugin_version)"},
  };
  for (const auto& c : cases) {
    json d = Valid(c.version);
    for (const auto& [pointer, value] : c.patches) {
      json::json_pointer at(pointer);
      d[at.parent_pointer()].erase(at.back());
      if (!value.is_discarded()) d[at] = value;
    }
    EXPECT_EQ(Load(d.dump()), c.reason) << d.dump();
  }
}

TEST(JSONDescriptorTest, HostileOrUnreadableInputIsRejectedCleanly) {
  // Syntax errors (one case each for nothing, a cut-off and a valid prefix),
  // nesting too deep for a recursive parser, and a valid descriptor whose
  // trailing blanks take the file over the size limit.
  for (const std::string& text :
       {std::string(), std::string("{\"metadata\": {}"), Valid(1).dump() + " trailing",
        std::string(100000, '[') + std::string(100000, ']'),
        Valid(1).dump() + std::string(kMaxDescriptorBytes, ' ')}) {
    EXPECT_EQ(Load(text), "plugin root is not an object") << text.substr(0, 40);
  }
  EXPECT_EQ(Load("", nullptr, nullptr, "/nonexistent/missing.json"), "no such file or directory");
}

TEST(JSONPluginTest, VersionCommentsAndWhatEachVersionReads) {
  Graph graph;
  JSONPlugin* p = nullptr;
  EXPECT_EQ("loaded", Load(R"(// a descriptor
    { /* interface */ "metadata": {"version": 2.9, "requires": [], "provides": []},
      "operations": {"start": ["file write --path=/x" // one command
      ]}})",
                           &p, &graph));
  EXPECT_EQ(p->ApiVersion(), 2);
  EXPECT_EQ(p->StartCommands(), std::vector<std::string>{"file write --path=/x"});
  // Version 2 reads the host-profile list but not the version 3 keys; version 1 neither.
  json d = Valid(1);
  d["metadata"]["run_once"] = "not a boolean";
  d["operations"]["apply_host_profile"] = {"sysctl set --key=a"};
  for (int version : {1, 2}) {
    d["metadata"]["version"] = version;
    ASSERT_EQ("loaded", Load(d.dump(), &p, &graph));
    EXPECT_EQ(p->UsesHostProfile(), version == 2);
  }
}

TEST(JSONPluginTest, BarriersAreLinkedInOrderOnlyForAValidDescriptor) {
  json linked = Valid(3);
  linked["metadata"]["requires"] = {"jsonlink-r1", "jsonlink-r2"};
  linked["metadata"]["provides"] = {"jsonlink-p"};
  json broken = linked;
  broken["metadata"]["provides"] = {"jsonlink-p", 3};  // after the requires list
  Graph graph;
  EXPECT_EQ(Load(broken.dump(), nullptr, &graph), "provides tag is not a string");
  JSONPlugin* p = nullptr;
  ASSERT_EQ("loaded", Load(linked.dump(), &p, &graph));
  GraphLockHolder lock;
  EXPECT_EQ(p->Dependencies(), (std::vector<Node*>{graph.GetBarrier("jsonlink-r1", false),
                                                   graph.GetBarrier("jsonlink-r2", false)}));
  EXPECT_EQ(p->Dependents(), std::vector<Node*>{graph.GetBarrier("jsonlink-p", false)});
  // Nothing of the rejected descriptor was linked.
  EXPECT_EQ(graph.GetBarrier("jsonlink-p", false)->Dependencies(), std::vector<Node*>{p});
  EXPECT_EQ(graph.GetBarrier("jsonlink-r2", false)->Dependents(), std::vector<Node*>{p});
}

}  // namespace
}  // namespace bootcrank
