// Loading single plugin files: kind and name from the file name, the
// disabled list, boot flags and the run-once key.
#include "plugins/discovery.h"

#include <gtest/gtest.h>

#include "graph/graph.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "support/temp_root.h"

namespace bootcrank {
namespace {

using Names = std::vector<std::string>;

std::string Descriptor(const std::string& extraMetadata = "",
                       const std::string& runOnceVersion = "") {
  return R"({"metadata": {"version": 3, "requires": [], "provides": [], "run_once": )" +
         std::string(runOnceVersion.empty() ? "false" : "true") + R"(, "plugin_version": ")" +
         runOnceVersion + "\"" + extraMetadata + R"(}, "operations": {"start": []}})";
}

class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() : settings_(Settings::Instance()) {
    boost::filesystem::create_directories(root_.Path("plugins"));
    // Native plugins' tables are read by the executor program of the build.
    boost::filesystem::create_directories(root_.Path("usr/lib/quarro/bootcrank"));
    boost::filesystem::create_symlink(BOOTCRANK_BINARY_DIR "/native_executor/nativeExecutor",
                                      root_.Path("usr/lib/quarro/bootcrank/nativeExecutor"));
    settings_.pluginDirectory = root_.Path("plugins");
    settings_.disabledPlugins.clear();
  }
  // Writes plugin file `fileName`, loads it and returns the names listed since.
  Names Load(const std::string& fileName, const std::string& content,
             const std::set<std::string>& bootFlags = {}) {
    if (!content.empty()) root_.Write("plugins/" + fileName, content);
    runList_.clear();
    LoadPlugin(graph_, fileName, runList_, bootFlags, settings_.disabledPlugins, runOnce_,
               settings_);
    Names names;
    for (Plugin* plugin : runList_) names.push_back(plugin->Name());
    return names;
  }

  testing::TempRoot root_;
  Settings& settings_;
  Graph graph_;
  RunList runList_;
  std::set<std::string> runOnce_;
};

// A file that loads as the wrong kind lists nothing. The texts of skipped
// files and of each filter are checked end to end.
TEST_F(DiscoveryTest, FileNameDecidesKindAndNameAndTheDisabledListMatchesTheName) {
  root_.Write("net.c",
              "#include <bootcrank/native_plugin.h>\n"
              "const struct bootcrank_metadata metadata = {.version = 1};\n"
              "const struct bootcrank_operations operations = {0, 0};\n");
  ASSERT_EQ(0, testing::Shell("cc -shared -fPIC -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" +
                              root_.Path("plugins/libnet.so") + "' '" + root_.Path("net.c") + "'"));
  EXPECT_EQ(Names{"a.b"}, Load("a.b.json", Descriptor()));
  EXPECT_EQ(Names{"net"}, Load("libnet.so", ""));
  settings_.disabledPlugins = {"net.json", "libnet"};
  EXPECT_EQ(Names{"net"}, Load("net.json", Descriptor()));
  settings_.disabledPlugins = {"other", "net"};
  EXPECT_EQ(Names{}, Load("net.json", Descriptor()));
}

TEST_F(DiscoveryTest, BootFlagsDisableOrRequireAndAreListedSorted) {
  const std::string flags =
      ", \"disabling_flags\": [\"z\", \"B\", \"x\", \"q\"], \"required_flags\": [\"b\", \"a\"]";
  EXPECT_EQ(Names{"p"}, Load("p.json", Descriptor(flags), {"y", "a", "b"}));
  testing::LogCapture log;
  EXPECT_EQ(Names{}, Load("p.json", "", {"x", "z", "B", "a"}));
  EXPECT_EQ((Names{"ignoring plugin 'p', disabled due to boot flags: B x z .",
                   "ignoring plugin 'p', disabled due to missing required boot flags: b ."}),
            log.Messages("warning"));
}

TEST_F(DiscoveryTest, RunOnceKeyIsLookedUpRawAndRecordedSanitised) {
  const std::string version = "2 .0/b\xc3\xa9ta+x_y-z";
  EXPECT_EQ(Names{"tool"}, Load("tool.json", Descriptor("", version)));
  EXPECT_EQ(std::set<std::string>{"tool2.0bta+x_y-z"}, runOnce_);

  runOnce_ = {"tool" + version};
  EXPECT_EQ(Names{"tool"}, Load("tool.json", ""));
  EXPECT_EQ(NodeState::Started, runList_[0]->State());  // listed, but already finished
  EXPECT_EQ(std::set<std::string>{"tool" + version}, runOnce_);
}

}  // namespace
}  // namespace bootcrank
