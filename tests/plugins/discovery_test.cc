// Discovery over real plugin files in a scratch plugin directory, with the
// debug injection file of a scratch host root.
#include "plugins/discovery.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <set>
#include <string>
#include <vector>

#include "graph/barrier.h"
#include "gtest/gtest.h"
#include "plugins/debug_plugin.h"
#include "plugins/json_plugin.h"
#include "plugins/native_plugin.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "tests/runcontrol/temp_root.h"

namespace bootcrank {
namespace {

using Flags = std::set<std::string>;
using Names = std::vector<std::string>;
using testing::LogCapture;

// A descriptor of interface version 3 with the given metadata additions.
std::string Descriptor(const std::string& extraMetadata = "", const std::string& runOnce = "false",
                       const std::string& version = "1.0") {
  return "{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [],"
         " \"run_once\": " + runOnce + ", \"plugin_version\": \"" + version + "\"" +
         extraMetadata + "},\n \"operations\": {\"start\": []}}\n";
}

class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() : root_(true), settings_(Settings::Instance()) {
    root_.MakeDirectory("plugins");
    root_.MakeDirectory("etc/quarro/bootcrank");
    settings_.pluginDirectory = root_.Path("plugins");
    settings_.disabledPlugins.clear();
  }

  std::string PluginDir() const { return root_.Path("plugins"); }
  void Plugin(const std::string& fileName, const std::string& content) const {
    root_.Write("plugins/" + fileName, content);
  }
  void DebugConf(const std::string& content) const {
    root_.Write("etc/quarro/bootcrank/debug.conf", content);
  }

  // LoadPlugin with the fixture's settings; appends to runList_.
  void Load(const std::string& fileName, const Flags& bootFlags = {}) {
    LoadPlugin(fileName, runList_, bootFlags, settings_.disabledPlugins, runOnce_, settings_);
  }

  Names ListedNames() const {
    Names names;
    for (bootcrank::Plugin* plugin : runList_) names.push_back(plugin->Name());
    return names;
  }

  testing::TempRoot root_;
  Settings& settings_;
  RunList runList_;
  std::set<std::string> runOnce_;
};

TEST_F(DiscoveryTest, FileNameDecidesKindAndName) {
  Plugin("README", "not a plugin");
  Plugin("notes.txt", "not a plugin");
  Plugin("a.b.json", Descriptor());
  Plugin("library.json", Descriptor());
  Plugin("upper.JSON", Descriptor());
  LogCapture log;
  for (const char* name : {"README", "notes.txt", "a.b.json", "library.json", "upper.JSON"}) {
    Load(name);
  }
  EXPECT_EQ((Names{"ignoring plugin 'README' of unspecified type...",
                   "ignoring plugin 'notes.txt' of unknown type (txt)...",
                   "ignoring plugin 'upper.JSON' of unknown type (JSON)..."}),
            log.Messages("warning"));
  EXPECT_TRUE(log.Messages("alert").empty());
  EXPECT_EQ((Names{"a.b", "rary"}), ListedNames());
  for (bootcrank::Plugin* plugin : runList_) {
    EXPECT_NE(nullptr, dynamic_cast<JSONPlugin*>(plugin));
    EXPECT_EQ(NodeState::Idle, plugin->State());
  }
}

TEST_F(DiscoveryTest, NativeObjectAndDescriptorAreBothNamedWithoutLib) {
  root_.Write("net.c",
              "#include <bootcrank/native_plugin.h>\n"
              "static int Start(void) { return 0; }\n"
              "const struct bootcrank_metadata metadata = {.version = 1};\n"
              "const struct bootcrank_operations operations = {Start, 0};\n");
  ASSERT_EQ(0, testing::Shell("cc -shared -fPIC -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" +
                              PluginDir() + "/libnet.so' '" + root_.Path("net.c") + "'"));
  Plugin("net.json", Descriptor());
  LogCapture log;
  Load("libnet.so");
  Load("net.json");
  EXPECT_TRUE(log.Messages("alert").empty()) << log.Text();
  ASSERT_EQ((Names{"net", "net"}), ListedNames());
  auto* native = dynamic_cast<NativePlugin*>(runList_[0]);
  ASSERT_NE(nullptr, native);
  EXPECT_EQ(PluginDir() + "/libnet.so", native->LibraryPath());
  EXPECT_NE(nullptr, dynamic_cast<JSONPlugin*>(runList_[1]));
}

TEST_F(DiscoveryTest, DisabledListMatchesTheNameNotTheFileName) {
  Plugin("net.json", Descriptor());
  settings_.disabledPlugins = {"other", "net"};
  {
    LogCapture log;
    Load("net.json");
    EXPECT_EQ(Names{"ignoring plugin 'net' due to blacklist."}, log.Messages("info"));
    EXPECT_TRUE(runList_.empty());
  }
  // A disabled plugin is still loaded: its broken descriptor is reported.
  Plugin("net.json", "{\"metadata\": 1}");
  {
    LogCapture log;
    Load("net.json");
    std::string report = "exception occurred whilst loading plugin net.json: plugin `" +
                         PluginDir() + "/net.json' is invalid: invalid metadata interface";
    EXPECT_EQ(Names{report}, log.Messages("alert"));
    EXPECT_EQ(Names{report}, log.Messages("warning"));
    EXPECT_TRUE(log.Messages("info").empty());
  }
  Plugin("net.json", Descriptor());
  settings_.disabledPlugins = {"net.json", "libnet"};
  LogCapture log;
  Load("net.json");
  EXPECT_EQ(Names{"net"}, ListedNames());
  EXPECT_TRUE(log.Messages("info").empty());
}

TEST_F(DiscoveryTest, DisabledPluginIsMarkedFinished) {
  Plugin("net.json",
         "{\"metadata\": {\"version\": 3, \"requires\": [],"
         " \"provides\": [\"discovery-test-disabled\"], \"run_once\": true,"
         " \"plugin_version\": \"1\", \"required_flags\": [\"never-given\"]},"
         " \"operations\": {\"start\": []}}");
  settings_.disabledPlugins = {"net"};
  LogCapture log;
  Load("net.json");
  // The disabled list comes first: no boot flag message, no run-once key.
  EXPECT_EQ(Names{"ignoring plugin 'net' due to blacklist."}, log.Messages("info"));
  EXPECT_TRUE(log.Messages("warning").empty());
  EXPECT_TRUE(runOnce_.empty());
  // Still linked, and finished, so that its barrier does not wait for it.
  InitBarrier* barrier = GetBarrier("discovery-test-disabled", false);
  ASSERT_NE(nullptr, barrier);
  ASSERT_EQ(1u, barrier->Dependencies().size());
  EXPECT_EQ("net", barrier->Dependencies()[0]->Name());
  EXPECT_EQ(NodeState::Started, barrier->Dependencies()[0]->State());
}

TEST_F(DiscoveryTest, BootFlagsDisableOrRequire) {
  struct Case {
    std::string flags;  // metadata additions
    Flags bootFlags;
    Names warnings;
  };
  const Case cases[] = {
      {", \"disabling_flags\": [\"x\"]", {"x", "y"},
       {"ignoring plugin 'p', disabled due to boot flags: x ."}},
      {", \"disabling_flags\": [\"x\"]", {"y"}, {}},
      {", \"required_flags\": [\"a\", \"b\"]", {"a"},
       {"ignoring plugin 'p', disabled due to missing required boot flags: b ."}},
      {", \"required_flags\": [\"a\", \"b\"]", {"a", "b", "c"}, {}},
      {", \"required_flags\": [\"b\", \"a\"]", {},
       {"ignoring plugin 'p', disabled due to missing required boot flags: a b ."}},
      {", \"disabling_flags\": [\"x\"], \"required_flags\": [\"a\"]", {"x"},
       {"ignoring plugin 'p', disabled due to boot flags: x .",
        "ignoring plugin 'p', disabled due to missing required boot flags: a ."}},
      {", \"disabling_flags\": [\"z\", \"B\", \"b\", \"q\"]", {"b", "z", "B"},
       {"ignoring plugin 'p', disabled due to boot flags: B b z ."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    Plugin("p.json", Descriptor(c.flags));
    runList_.clear();
    LogCapture log;
    Load("p.json", c.bootFlags);
    EXPECT_EQ(c.warnings, log.Messages("warning"));
    if (c.warnings.empty()) {
      EXPECT_EQ(Names{"p"}, ListedNames());
      EXPECT_EQ(NodeState::Idle, runList_[0]->State());
    } else {
      EXPECT_TRUE(runList_.empty());
    }
  }
}

TEST_F(DiscoveryTest, RunOnceRecordsOrSkipsTheVersion) {
  Plugin("net.json", Descriptor("", "true", "1.0"));
  runOnce_ = {"net1.0"};
  {
    LogCapture log;
    Load("net.json");
    EXPECT_EQ(Names{"ignoring plugin 'net' because version '1.0'  has already been run."},
              log.Messages("info"));
    ASSERT_EQ(Names{"net"}, ListedNames());
    EXPECT_EQ(NodeState::Started, runList_[0]->State());
    EXPECT_EQ(std::set<std::string>{"net1.0"}, runOnce_);
  }
  runList_.clear();
  runOnce_ = {"net1.1", "net"};
  Load("net.json");
  ASSERT_EQ(Names{"net"}, ListedNames());
  EXPECT_EQ(NodeState::Idle, runList_[0]->State());
  EXPECT_EQ((std::set<std::string>{"net", "net1.0", "net1.1"}), runOnce_);

  // Not run-once: no key, whatever the record holds.
  Plugin("plain.json", Descriptor("", "false", "1.0"));
  runOnce_ = {"plain1.0"};
  Load("plain.json");
  EXPECT_EQ(NodeState::Idle, runList_.back()->State());
  EXPECT_EQ(std::set<std::string>{"plain1.0"}, runOnce_);
}

TEST_F(DiscoveryTest, RunOnceKeyIsLookedUpRawAndRecordedSanitised) {
  Plugin("tool.json", Descriptor("", "true", "2 .0/b\xc3\xa9ta+x_y-z"));
  Load("tool.json");
  EXPECT_EQ(std::set<std::string>{"tool2.0bta+x_y-z"}, runOnce_);

  runList_.clear();
  runOnce_ = {"tool2 .0/b\xc3\xa9ta+x_y-z"};
  LogCapture log;
  Load("tool.json");
  EXPECT_EQ(1u, log.Messages("info").size());
  EXPECT_EQ(NodeState::Started, runList_.at(0)->State());
}

TEST_F(DiscoveryTest, BrokenDescriptorsAreReportedAndDiscoveryGoesOn) {
  Plugin("bad.json", "this is not json");
  Plugin("good.json", Descriptor());
  LogCapture log;
  DiscoverPlugins({}, {}, runOnce_, settings_, runList_);
  EXPECT_EQ(Names{"good"}, ListedNames());
  Names alerts = log.Messages("alert");
  ASSERT_EQ(1u, alerts.size());
  EXPECT_EQ("exception occurred whilst loading plugin bad.json: plugin `" + PluginDir() +
                "/bad.json' is invalid: plugin root is not an object",
            alerts[0]);
  EXPECT_EQ(alerts, log.Messages("warning"));
}

TEST_F(DiscoveryTest, WholeDirectoryThenEveryDebugEntry) {
  Plugin("a.json", Descriptor());
  Plugin("b.json", Descriptor());
  Plugin("README", "");
  root_.MakeDirectory("plugins/sub.d");
  DebugConf("e2:before-e2:after-e2:true\ne1:before-e1:after-e1:true\n");
  LogCapture log;
  DiscoverPlugins({}, {}, runOnce_, settings_, runList_);
  Names names = ListedNames();
  ASSERT_EQ(4u, names.size());
  std::sort(names.begin(), names.begin() + 2);  // the directory's own order
  EXPECT_EQ((Names{"a", "b", "e2", "e1"}), names);
  EXPECT_NE(nullptr, dynamic_cast<DebugPlugin*>(runList_[2]));
  EXPECT_NE(nullptr, dynamic_cast<DebugPlugin*>(runList_[3]));
  Names warnings = log.Messages("warning");
  std::sort(warnings.begin(), warnings.end());
  EXPECT_EQ((Names{"ignoring plugin 'README' of unspecified type...",
                   "ignoring plugin 'sub.d' of unknown type (d)..."}),
            warnings);
}

TEST_F(DiscoveryTest, PluginListExaminesOnlyTheNamedFiles) {
  Plugin("a.json", Descriptor());
  Plugin("b.json", Descriptor());
  Plugin("broken.json", "[]");
  DebugConf("e1:r1:p1:true\ne2:r2:p2:true\ne1:r3:p3:true\n");
  LogCapture log;
  DiscoverPlugins({"b.json", "e1.debug", "missing.json"}, {}, runOnce_, settings_, runList_);
  EXPECT_EQ((Names{"b", "e1", "e1"}), ListedNames());
  auto* second = dynamic_cast<DebugPlugin*>(runList_.at(2));
  ASSERT_NE(nullptr, second);
  EXPECT_EQ("true", second->Command());
  EXPECT_EQ(Names{"exception occurred whilst loading plugin missing.json: plugin `" +
                  PluginDir() + "/missing.json' is invalid: no such file or directory"},
            log.Messages("alert"));
}

// Discovery reads the debug file once, but its log must be that of a reader
// consulted once up front and again for every file name with an extension:
// the malformed-line messages come again each time, in line order.
TEST_F(DiscoveryTest, MalformedDebugLinesAreLoggedForEveryFileWithAnExtension) {
  Plugin("a.json", Descriptor());
  Plugin("b.txt", "");
  Plugin("README", "");
  DebugConf("bad:line\ngood:r:p:true\n\nworse:a:b:c:d\n");
  const Names perRead{"ignoring malformed debug entry at line 1: bad:line",
                      "ignoring malformed debug entry at line 4: worse:a:b:c:d"};
  {
    LogCapture log;
    DiscoverPlugins({}, {}, runOnce_, settings_, runList_);
    Names expected;
    for (int reads = 0; reads < 3; ++reads) {  // up front, a.json, b.txt
      expected.insert(expected.end(), perRead.begin(), perRead.end());
    }
    EXPECT_EQ(expected, log.Messages("info"));
    EXPECT_EQ((Names{"a", "good"}), ListedNames());
  }
  runList_.clear();
  {
    // Named plugins: one read per name with an extension, none up front.
    LogCapture log;
    DiscoverPlugins({"good.debug", "README", "a.json"}, {}, runOnce_, settings_, runList_);
    Names expected = perRead;
    expected.insert(expected.end(), perRead.begin(), perRead.end());
    EXPECT_EQ(expected, log.Messages("info"));
    EXPECT_EQ((Names{"good", "a"}), ListedNames());
  }
}

TEST_F(DiscoveryTest, DirectoryAndDebugReaderErrorsPropagate) {
  settings_.pluginDirectory = root_.Path("absent");
  EXPECT_THROW(DiscoverPlugins({}, {}, runOnce_, settings_, runList_), std::exception);

  settings_.pluginDirectory = PluginDir();
  Plugin("a.json", Descriptor());
  DebugConf("e1:\"r\\q\":p1:true\n");
  EXPECT_THROW(Load("a.json"), std::exception);
  EXPECT_THROW(DiscoverPlugins({}, {}, runOnce_, settings_, runList_), std::exception);
  // A name without an extension is dismissed before the debug file is read.
  LogCapture log;
  EXPECT_NO_THROW(Load("README"));
  EXPECT_TRUE(runList_.empty());
}

}  // namespace
}  // namespace bootcrank
