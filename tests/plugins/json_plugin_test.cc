#include "plugins/json_plugin.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "graph/barrier.h"
#include "graph/graph_lock.h"
#include "plugins/exception.h"
#include "plugins/json_descriptor.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

using nlohmann::json;

// A directory of descriptor files for one test.
class DescriptorDir {
 public:
  DescriptorDir() {
    char name[] = "/tmp/bootcrank-json-XXXXXX";
    dir_ = mkdtemp(name);
  }
  ~DescriptorDir() { testing::Shell("rm -rf '" + dir_ + "'"); }

  std::string Write(const std::string& file, const std::string& text) const {
    std::string path = dir_ + "/" + file;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  const std::string& Path() const { return dir_; }

 private:
  std::string dir_;
};

// A valid descriptor of `version` that the cases below break one key at a time.
json Valid(double version) {
  json d = {{"metadata",
             {{"version", version},
              {"requires", json::array()},
              {"provides", json::array()},
              {"run_once", false},
              {"plugin_version", "1.0"}}},
            {"operations", {{"start", json::array()}}}};
  return d;
}

// The reason of the InvalidPluginException that loading `text` throws, or
// "loaded" when it loads.
std::string LoadFailure(const std::string& text) {
  DescriptorDir dir;
  std::string path = dir.Write("p.json", text);
  try {
    new JSONPlugin("p", path);  // plugins live for the process, as in a run
    return "loaded";
  } catch (const InvalidPluginException& e) {
    std::string prefix = "plugin `" + path + "' is invalid: ";
    std::string what = e.what();
    if (what.compare(0, prefix.size(), prefix) != 0) return "bad text: " + what;
    return what.substr(prefix.size());
  }
}

struct FailureCase {
  const char* label;
  std::function<void(json&)> breakIt;
  double version;
  const char* reason;
};

TEST(JSONDescriptorTest, EveryFaultHasItsReason) {
  const FailureCase cases[] = {
      {"metadata missing", [](json& d) { d.erase("metadata"); }, 1,
       "invalid metadata interface"},
      {"metadata array", [](json& d) { d["metadata"] = json::array(); }, 1,
       "invalid metadata interface"},
      {"version missing", [](json& d) { d["metadata"].erase("version"); }, 1,
       "metadata is corrupt (unable to parse version)"},
      {"version string", [](json& d) { d["metadata"]["version"] = "3"; }, 1,
       "metadata is corrupt (unable to parse version)"},
      {"version bool", [](json& d) { d["metadata"]["version"] = true; }, 1,
       "metadata is corrupt (unable to parse version)"},
      {"version 0.5", [](json&) {}, 0.5, "Unsupported API version"},
      {"version 5", [](json&) {}, 5, "Unsupported API version"},
      {"version -1", [](json&) {}, -1, "Unsupported API version"},
      {"version 2^32+1 does not wrap to 1",
       [](json& d) { d["metadata"]["version"] = 4294967297ULL; }, 1,
       "Unsupported API version"},
      {"version 1e300", [](json&) {}, 1e300, "Unsupported API version"},
      {"requires missing", [](json& d) { d["metadata"].erase("requires"); }, 1,
       "metadata is corrupt (unable to parse requires)"},
      {"requires string", [](json& d) { d["metadata"]["requires"] = "a"; }, 1,
       "metadata is corrupt (unable to parse requires)"},
      {"requires element", [](json& d) { d["metadata"]["requires"] = {"a", 1}; }, 1,
       "requires tag is not a string"},
      {"provides missing", [](json& d) { d["metadata"].erase("provides"); }, 1,
       "metadata is corrupt (unable to parse provides)"},
      {"provides element",
       [](json& d) { d["metadata"]["provides"] = {"a", nullptr}; }, 1,
       "provides tag is not a string"},
      {"required_flags object",
       [](json& d) { d["metadata"]["required_flags"] = json::object(); }, 3,
       "metadata is corrupt (unable to parse required_flags)"},
      {"required_flags element",
       [](json& d) { d["metadata"]["required_flags"] = {json::array()}; }, 3,
       "required_flags tag is not a string"},
      {"disabling_flags null",
       [](json& d) { d["metadata"]["disabling_flags"] = nullptr; }, 4,
       "metadata is corrupt (unable to parse disabling_flags)"},
      {"disabling_flags element",
       [](json& d) { d["metadata"]["disabling_flags"] = {"x", false}; }, 3,
       "disabling_flags tag is not a string"},
      {"run_once missing", [](json& d) { d["metadata"].erase("run_once"); }, 3,
       "metadata is corrupt (unable to parse run_once)"},
      {"run_once number", [](json& d) { d["metadata"]["run_once"] = 1; }, 4,
       "metadata is corrupt (unable to parse run_once)"},
      {"plugin_version missing",
       [](json& d) { d["metadata"].erase("plugin_version"); }, 3,
       "metadata is corrupt (unable to parse plugin_version)"},
      {"plugin_version number",
       [](json& d) { d["metadata"]["plugin_version"] = 1.0; }, 3,
       "metadata is corrupt (unable to parse plugin_version)"},
      {"operations missing", [](json& d) { d.erase("operations"); }, 1,
       "invalid operations interface"},
      {"operations string", [](json& d) { d["operations"] = "start"; }, 1,
       "invalid operations interface"},
      {"start missing", [](json& d) { d["operations"].erase("start"); }, 1,
       "operations is corrupt (unable to parse start)"},
      {"start string", [](json& d) { d["operations"]["start"] = "x"; }, 1,
       "operations is corrupt (unable to parse start)"},
      {"second start command a number",
       [](json& d) { d["operations"]["start"] = {"a", 2, "c"}; }, 1,
       "command is not a string"},
      {"apply_host_profile object",
       [](json& d) { d["operations"]["apply_host_profile"] = json::object(); }, 2,
       "operations is corrupt (unable to parse apply-host-profile)"},
      {"apply_host_profile element",
       [](json& d) { d["operations"]["apply_host_profile"] = {"a", {{"b", 1}}}; }, 4,
       "command is not a string"},
  };
  for (const FailureCase& c : cases) {
    json d = Valid(c.version);
    c.breakIt(d);
    EXPECT_EQ(LoadFailure(d.dump()), c.reason) << c.label;
  }
}

TEST(JSONDescriptorTest, SeveralFaultsReportTheFirstInCheckOrder) {
  const FailureCase cases[] = {
      {"version before metadata lists",
       [](json& d) {
         d["metadata"]["version"] = 9;
         d["metadata"].erase("requires");
       },
       1, "Unsupported API version"},
      {"requires before provides",
       [](json& d) {
         d["metadata"]["requires"] = {1};
         d["metadata"]["provides"] = 1;
       },
       1, "requires tag is not a string"},
      {"provides before the version 3 keys",
       [](json& d) {
         d["metadata"]["provides"] = {1};
         d["metadata"].erase("run_once");
       },
       3, "provides tag is not a string"},
      {"required_flags before disabling_flags",
       [](json& d) {
         d["metadata"]["required_flags"] = 1;
         d["metadata"]["disabling_flags"] = 1;
       },
       3, "metadata is corrupt (unable to parse required_flags)"},
      {"disabling_flags before run_once",
       [](json& d) {
         d["metadata"]["disabling_flags"] = 1;
         d["metadata"].erase("run_once");
       },
       3, "metadata is corrupt (unable to parse disabling_flags)"},
      {"run_once before plugin_version",
       [](json& d) {
         d["metadata"]["run_once"] = "no";
         d["metadata"].erase("plugin_version");
       },
       3, "metadata is corrupt (unable to parse run_once)"},
      {"metadata before operations",
       [](json& d) {
         d["metadata"].erase("plugin_version");
         d.erase("operations");
       },
       3, "metadata is corrupt (unable to parse plugin_version)"},
      {"start before apply_host_profile",
       [](json& d) {
         d["operations"]["start"] = {false};
         d["operations"]["apply_host_profile"] = 1;
       },
       2, "command is not a string"},
  };
  for (const FailureCase& c : cases) {
    json d = Valid(c.version);
    c.breakIt(d);
    EXPECT_EQ(LoadFailure(d.dump()), c.reason) << c.label;
  }
}

TEST(JSONDescriptorTest, DocumentsThatAreNotObjects) {
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xff);
  const std::string texts[] = {
      "",
      "[]",
      "\"metadata\"",
      "{\"metadata\": {}",  // unterminated
      Valid(1).dump() + " trailing",
      "{\"metadata\": {\"version\": 1e400}}",  // number out of range
      "{\"\xff\xfe\": 1}",                     // not UTF-8
      binary,
      deep,
      std::string(10 * 1024 * 1024, ' ') + "x",
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(LoadFailure(text), "plugin root is not an object")
        << text.substr(0, 40);
  }
}

TEST(JSONDescriptorTest, DeepNestingBelowAKeyIsRejectedByType) {
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  json d = Valid(1);
  std::string text = d.dump();
  text.replace(text.find("\"requires\":[]"), 13, "\"requires\":[" + deep + "]");
  EXPECT_EQ(LoadFailure(text), "requires tag is not a string");
}

TEST(JSONDescriptorTest, FilesThatCannotBeRead) {
  DescriptorDir dir;
  std::string missing = dir.Path() + "/missing.json";
  try {
    new JSONPlugin("missing", missing);
    FAIL() << "loaded";
  } catch (const InvalidPluginException& e) {
    EXPECT_EQ(std::string(e.what()),
              "plugin `" + missing + "' is invalid: no such file or directory");
  }
  // A directory and a FIFO without a writer neither hang nor load.
  std::string directory = dir.Path() + "/dir.json";
  ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
  std::string fifo = dir.Path() + "/fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& path : {directory, fifo}) {
    EXPECT_THROW(new JSONPlugin("odd", path), InvalidPluginException) << path;
  }
}

TEST(JSONDescriptorTest, ParseChecksTextWithoutAFile) {
  EXPECT_EQ(ParseJSONDescriptor(Valid(3).dump(), "/x.json").apiVersion, 3);
  try {
    ParseJSONDescriptor("{}", "/x.json");
    FAIL() << "parsed";
  } catch (const InvalidPluginException& e) {
    EXPECT_STREQ(e.what(), "plugin `/x.json' is invalid: invalid metadata interface");
  }
}

JSONPlugin* Load(const DescriptorDir& dir, const std::string& name,
                 const std::string& text) {
  return new JSONPlugin(name, dir.Write(name + ".json", text));
}

TEST(JSONPluginTest, MinimalVersion1Descriptor) {
  DescriptorDir dir;
  JSONPlugin* p = Load(dir, "minimal",
                       R"({"metadata": {"version": 1, "requires": [], "provides": []},
                           "operations": {"start": []}})");
  EXPECT_EQ(p->Name(), "minimal");
  EXPECT_EQ(p->ApiVersion(), 1);
  EXPECT_FALSE(p->UsesHostProfile());
  EXPECT_TRUE(p->StartCommands().empty());
  {
    GraphLockHolder lock;
    EXPECT_TRUE(p->Dependencies().empty());
    EXPECT_TRUE(p->Dependents().empty());
  }
  p->Start();  // nothing to send: returns without an executor process
}

TEST(JSONPluginTest, VersionIsTruncatedTowardZero) {
  DescriptorDir dir;
  json d = Valid(2.9);
  EXPECT_EQ(Load(dir, "v29", d.dump())->ApiVersion(), 2);
  d["metadata"]["version"] = 4.99;
  EXPECT_EQ(Load(dir, "v499", d.dump())->ApiVersion(), 4);
  d["metadata"]["version"] = 1.0;
  EXPECT_EQ(Load(dir, "v10", d.dump())->ApiVersion(), 1);
}

TEST(JSONPluginTest, CommentsAreAllowed) {
  DescriptorDir dir;
  JSONPlugin* p = Load(dir, "commented", R"(// a descriptor
    { /* the interface */ "metadata": {"version": 1, "requires": [], "provides": []},
      "operations": {"start": ["file write --path=/x --content=y" // one command
      ]}})");
  EXPECT_EQ(p->StartCommands(),
            std::vector<std::string>{"file write --path=/x --content=y"});
}

TEST(JSONPluginTest, Version3KeysAreIgnoredBelowVersion3) {
  DescriptorDir dir;
  json d = Valid(2);
  d["metadata"]["run_once"] = "not a boolean";
  d["metadata"]["plugin_version"] = 7;
  d["metadata"]["required_flags"] = {1, 2};
  d["metadata"]["disabling_flags"] = "x";
  JSONPlugin* p = Load(dir, "ignored", d.dump());
  EXPECT_FALSE(p->RunOnce());
  EXPECT_EQ(p->PluginVersion(), "");
  EXPECT_TRUE(p->RequiredFlags().empty());
  EXPECT_TRUE(p->DisablingFlags().empty());
}

TEST(JSONPluginTest, Version3KeysAreStored) {
  DescriptorDir dir;
  json d = Valid(3);
  d["metadata"]["run_once"] = true;
  d["metadata"]["plugin_version"] = "2.1-a";
  d["metadata"]["required_flags"] = {"b", "a", "a"};
  d["metadata"]["disabling_flags"] = {"x"};
  JSONPlugin* p = Load(dir, "stored", d.dump());
  EXPECT_TRUE(p->RunOnce());
  EXPECT_EQ(p->PluginVersion(), "2.1-a");
  EXPECT_EQ(p->RequiredFlags(), (std::set<std::string>{"a", "b"}));
  EXPECT_EQ(p->DisablingFlags(), (std::set<std::string>{"x"}));

  d["metadata"].erase("required_flags");
  d["metadata"].erase("disabling_flags");
  JSONPlugin* bare = Load(dir, "bare", d.dump());
  EXPECT_TRUE(bare->RequiredFlags().empty());
  EXPECT_TRUE(bare->DisablingFlags().empty());
}

TEST(JSONPluginTest, HostProfileRules) {
  DescriptorDir dir;
  // Version 1: the list is not read, whatever its type.
  json d = Valid(1);
  d["operations"]["apply_host_profile"] = {"sysctl set --key=a --value=1"};
  JSONPlugin* v1 = Load(dir, "hp1", d.dump());
  EXPECT_TRUE(v1->HostProfileCommands().empty());
  EXPECT_FALSE(v1->UsesHostProfile());
  try {
    v1->ApplyHostProfile();
    FAIL() << "no exception";
  } catch (const NotImplementedException& e) {
    EXPECT_STREQ(e.what(), "method `json_plugin::ApplyHostProfile' is not implemented");
  }
  d["operations"]["apply_host_profile"] = 17;
  EXPECT_EQ(Load(dir, "hp1b", d.dump())->ApiVersion(), 1);

  // Version 2, empty list: not used at boot, and applying it sends nothing.
  d = Valid(2);
  d["operations"]["apply_host_profile"] = json::array();
  JSONPlugin* empty = Load(dir, "hp2e", d.dump());
  EXPECT_FALSE(empty->UsesHostProfile());
  empty->ApplyHostProfile();

  // Version 2 without the key, and with commands.
  EXPECT_FALSE(Load(dir, "hp2n", Valid(2).dump())->UsesHostProfile());
  d["operations"]["apply_host_profile"] = {"a", "b"};
  JSONPlugin* v2 = Load(dir, "hp2", d.dump());
  EXPECT_TRUE(v2->UsesHostProfile());
  EXPECT_EQ(v2->HostProfileCommands(), (std::vector<std::string>{"a", "b"}));
}

bool HasEdge(const std::vector<Node*>& edges, const Node* node) {
  return std::find(edges.begin(), edges.end(), node) != edges.end();
}

TEST(JSONPluginTest, BarriersAreLinkedInOrder) {
  DescriptorDir dir;
  json d = Valid(1);
  d["metadata"]["requires"] = {"jsonlink-r1", "jsonlink-r2"};
  d["metadata"]["provides"] = {"jsonlink-p"};
  JSONPlugin* p = Load(dir, "linked", d.dump());
  InitBarrier* r1 = GetBarrier("jsonlink-r1", false);
  InitBarrier* r2 = GetBarrier("jsonlink-r2", false);
  InitBarrier* provided = GetBarrier("jsonlink-p", false);
  ASSERT_NE(r1, nullptr);
  ASSERT_NE(r2, nullptr);
  ASSERT_NE(provided, nullptr);
  GraphLockHolder lock;
  EXPECT_EQ(p->Dependencies(), (std::vector<Node*>{r1, r2}));
  EXPECT_EQ(p->Dependents(), std::vector<Node*>{provided});
  EXPECT_TRUE(HasEdge(r1->Dependents(), p));
  EXPECT_TRUE(HasEdge(provided->Dependencies(), p));
}

TEST(JSONPluginTest, RejectedDescriptorLeavesNoEdges) {
  // Faults after the barrier lists: in the version 3 keys and in operations.
  json late = Valid(3);
  late["metadata"]["requires"] = {"jsonreject-r"};
  late["metadata"]["provides"] = {"jsonreject-p"};
  late["metadata"].erase("plugin_version");
  json later = Valid(2);
  later["metadata"]["requires"] = {"jsonreject-r"};
  later["metadata"]["provides"] = {"jsonreject-p"};
  later["operations"]["apply_host_profile"] = {1};
  // A fault inside the provides list, after a valid requires list.
  json inside = Valid(1);
  inside["metadata"]["requires"] = {"jsonreject-r"};
  inside["metadata"]["provides"] = {"jsonreject-p", 3};
  for (const json& d : {late, later, inside}) {
    EXPECT_NE(LoadFailure(d.dump()), "loaded");
  }
  for (const char* name : {"jsonreject-r", "jsonreject-p"}) {
    InitBarrier* barrier = GetBarrier(name, false);
    if (barrier == nullptr) continue;  // may stay registered, but unlinked
    GraphLockHolder lock;
    EXPECT_TRUE(barrier->Dependencies().empty()) << name;
    EXPECT_TRUE(barrier->Dependents().empty()) << name;
  }
}

}  // namespace
}  // namespace bootcrank
