// Discovery over real plugin files in a scratch plugin directory.
#include "plugins/discovery.h"

#include "gtest/gtest.h"
#include "plugins/json_plugin.h"
#include "plugins/native_plugin.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "tests/runcontrol/temp_root.h"

namespace bootcrank {
namespace {

using Names = std::vector<std::string>;
using testing::LogCapture;

// An interface version 3 descriptor with the given metadata additions.
std::string Descriptor(const std::string& extraMetadata = "", bool runOnce = false,
                       const std::string& version = "1.0") {
  return std::string("{\"metadata\": {\"version\": 3, \"requires\": [], \"provides\": [],") +
         " \"run_once\": " + (runOnce ? "true" : "false") + ", \"plugin_version\": \"" +
         version + "\"" + extraMetadata + "}, \"operations\": {\"start\": []}}";
}

class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() : settings_(Settings::Instance()) {
    boost::filesystem::create_directories(root_.Path("plugins"));
    settings_.pluginDirectory = root_.Path("plugins");
    settings_.disabledPlugins.clear();
  }
  // Writes plugin file `fileName`, loads it and returns the names listed since.
  Names Load(const std::string& fileName, const std::string& content,
             const std::set<std::string>& bootFlags = {}) {
    if (!content.empty()) root_.Write("plugins/" + fileName, content);
    runList_.clear();
    LoadPlugin(fileName, runList_, bootFlags, settings_.disabledPlugins, runOnce_, settings_);
    Names names;
    for (Plugin* plugin : runList_) names.push_back(plugin->Name());
    return names;
  }

  testing::TempRoot root_;
  Settings& settings_;
  RunList runList_;
  std::set<std::string> runOnce_;
};

TEST_F(DiscoveryTest, FileNameDecidesKindAndName) {
  root_.Write("net.c", "#include <bootcrank/native_plugin.h>\n"
                       "const struct bootcrank_metadata metadata = {.version = 1};\n"
                       "const struct bootcrank_operations operations = {0, 0};\n");
  ASSERT_EQ(0, testing::Shell("cc -shared -fPIC -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" +
                              root_.Path("plugins/libnet.so") + "' '" + root_.Path("net.c") + "'"));
  LogCapture log;
  EXPECT_EQ(Names{}, Load("README", "not a plugin"));
  EXPECT_EQ(Names{}, Load("notes.txt", "not a plugin"));
  EXPECT_EQ(Names{"a.b"}, Load("a.b.json", Descriptor()));
  EXPECT_NE(nullptr, dynamic_cast<JSONPlugin*>(runList_.at(0)));
  EXPECT_EQ(Names{"net"}, Load("libnet.so", ""));
  EXPECT_NE(nullptr, dynamic_cast<NativePlugin*>(runList_.at(0)));
  EXPECT_EQ((Names{"ignoring plugin 'README' of unspecified type...",
                   "ignoring plugin 'notes.txt' of unknown type (txt)..."}),
            log.Messages("warning"));
  EXPECT_TRUE(log.Messages("alert").empty()) << log.Text();
}

TEST_F(DiscoveryTest, DisabledListMatchesTheBaseName) {
  settings_.disabledPlugins = {"net.json", "libnet"};
  EXPECT_EQ(Names{"net"}, Load("net.json", Descriptor()));
  settings_.disabledPlugins = {"other", "net"};
  LogCapture log;
  EXPECT_EQ(Names{}, Load("net.json", Descriptor()));
  EXPECT_EQ(Names{"ignoring plugin 'net' due to blacklist."}, log.Messages("info"));
}

TEST_F(DiscoveryTest, BootFlagsDisableOrRequire) {
  const std::string disabling = ", \"disabling_flags\": [\"z\", \"B\", \"x\", \"q\"]";
  const std::string required = ", \"required_flags\": [\"b\", \"a\"]";
  const struct {
    std::string metadata;
    std::set<std::string> bootFlags;
    Names warnings;
  } cases[] = {
      {disabling, {"y"}, {}},
      {disabling, {"x", "B", "z"}, {"ignoring plugin 'p', disabled due to boot flags: B x z ."}},
      {required, {"a", "b", "c"}, {}},
      {required, {}, {"ignoring plugin 'p', disabled due to missing required boot flags: a b ."}},
      {disabling + required, {"x", "a"},
       {"ignoring plugin 'p', disabled due to boot flags: x .",
        "ignoring plugin 'p', disabled due to missing required boot flags: b ."}},
  };
  for (const auto& c : cases) {
    LogCapture log;
    EXPECT_EQ(c.warnings.empty() ? Names{"p"} : Names{},
              Load("p.json", Descriptor(c.metadata), c.bootFlags))
        << c.metadata;
    EXPECT_EQ(c.warnings, log.Messages("warning")) << c.metadata;
  }
}

TEST_F(DiscoveryTest, RunOnceKeyIsLookedUpRawAndRecordedSanitised) {
  const std::string version = "2 .0/b\xc3\xa9ta+x_y-z";
  EXPECT_EQ(Names{"tool"}, Load("tool.json", Descriptor("", true, version)));
  EXPECT_EQ(std::set<std::string>{"tool2.0bta+x_y-z"}, runOnce_);

  runOnce_ = {"tool" + version};
  LogCapture log;
  EXPECT_EQ(Names{"tool"}, Load("tool.json", ""));
  EXPECT_EQ(NodeState::Started, runList_[0]->State());  // listed, but already finished
  EXPECT_EQ(Names{"ignoring plugin 'tool' because version '" + version +
                  "'  has already been run."},
            log.Messages("info"));
  EXPECT_EQ(std::set<std::string>{"tool" + version}, runOnce_);
}

TEST_F(DiscoveryTest, BrokenDescriptorIsAnAlertAndDiscoveryGoesOn) {
  root_.Write("plugins/bad.json", "this is not json");
  root_.Write("plugins/good.json", Descriptor());
  LogCapture log;
  DiscoverPlugins({}, {}, runOnce_, settings_, runList_);
  ASSERT_EQ(1u, runList_.size());
  EXPECT_EQ("good", runList_[0]->Name());
  const Names alert{"exception occurred whilst loading plugin bad.json: plugin `" +
                    root_.Path("plugins") + "/bad.json' is invalid: plugin root is not an object"};
  EXPECT_EQ(alert, log.Messages("alert"));
  EXPECT_EQ(alert, log.Messages("warning"));
}

}  // namespace
}  // namespace bootcrank
