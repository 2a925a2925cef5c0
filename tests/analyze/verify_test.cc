// bootcrank-analyze verify, run as a program on plugin sets in a scratch
// host root (the core CLI extension installed): each broken set is reported
// with its file and line, each sound one passes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace testing {
namespace {

const std::string kPlugins = "usr/libexec/bootcrank/plugins/";

std::string Json(const std::string& requires, const std::string& provides, const std::string& start = "",
                 const std::string& extra = "") {
  return "{\"metadata\": {\"version\": " + std::string(extra.empty() ? "2" : "3") + ", \"requires\": [" + requires + "], \"provides\": [" + provides + "]" +
         extra + "},\n \"operations\": {\"start\": [" + start + "]}}\n";
}

struct Case {
  const char* name;
  std::map<std::string, std::string> files;  // below the root
  int status;
  std::vector<std::string> expected;  // lines of the output, "<root>/" standing for the root
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"sound set", {{kPlugins + "a.json", Json("", "\"a-done\"", "\"file write --path=/x --content=1\"")},
                     {kPlugins + "b.json", Json("\"a-done\"", "")}}, 0, {}},
      {"empty directory", {}, 0, {}},
      {"json syntax error", {{kPlugins + "broken.json", "{\n  \"metadata\": {\n    \"version\": 3,,\n"}}, 1,
       {"<root>/" + kPlugins + "broken.json:3:18: load-error: "}},
      {"not json at all (e2e discovery set)", {{kPlugins + "garbage.json", "this is not json"}}, 1,
       {"<root>/" + kPlugins + "garbage.json:1:2: load-error: "}},
      {"no metadata (e2e discovery set)", {{kPlugins + "nometa.json", "{\"operations\": {\"start\": []}}"}}, 1,
       {"<root>/" + kPlugins + "nometa.json: load-error: "}},
      {"native plugin whose tables cannot be read", {{kPlugins + "libnet.so", "not an object"}}, 1,
       {"<root>/" + kPlugins + "libnet.so: load-error: "}},
      {"duplicate name", {{kPlugins + "net.json", Json("", "\"a\"")}, {"etc/quarro/bootcrank/debug.conf", "net:a:b:true\n"}},
       1, {"<root>/etc/quarro/bootcrank/debug.conf:1: duplicate: plugin name \"net\" is also that of <root>/" + kPlugins +
           "net.json"}},
      {"no provider, near name", {{kPlugins + "a.json", Json("\"storage-redy\"", "")},
                                  {kPlugins + "s.json", Json("", "\"storage-ready\"")}}, 1,
       {"<root>/" + kPlugins + "a.json: no-provider: \"a\" requires \"storage-redy\", which nothing provides (did you "
                               "mean \"storage-ready\"?)"}},
      {"no provider, nothing near", {{kPlugins + "a.json", Json("\"zzz\"", "")}}, 1,
       {"<root>/" + kPlugins + "a.json: no-provider: \"a\" requires \"zzz\", which nothing provides"}},
      {"cycle (e2e boot record set)", {{kPlugins + "a.json", Json("\"b-done\"", "\"a-done\"")},
                                       {kPlugins + "b.json", Json("\"a-done\"", "\"b-done\"")}}, 1,
       {"<root>/" + kPlugins + "a.json: cycle: dependency cycle of 4 nodes: \"a\" requires \"b-done\" (<root>/" +
        kPlugins + "a.json); \"b\" provides \"b-done\" (<root>/" + kPlugins + "b.json); \"b\" requires \"a-done\" (<root>/" +
        kPlugins + "b.json); \"a\" provides \"a-done\" (<root>/" + kPlugins + "a.json)"}},
      {"cycle through a debug injection", {{kPlugins + "a.json", Json("\"d-done\"", "\"a-done\"")},
                                           {"etc/quarro/bootcrank/debug.conf", "\nd:a-done:d-done:true\n"}}, 1,
       {"<root>/" + kPlugins + "a.json: cycle: dependency cycle of 4 nodes: \"a\" requires \"d-done\" (<root>/" +
        kPlugins + "a.json); \"d\" provides \"d-done\" (<root>/etc/quarro/bootcrank/debug.conf:2); "}},
      {"command too long", {{kPlugins + "a.json", Json("", "", "\"file write --path=/x --content=" +
                                                                std::string(1000, 'y') + "\"")}}, 1,
       {"<root>/" + kPlugins + "a.json: command-length: start command of 1031 bytes, longer than the 1023 "}},
      {"unknown command (e2e boot record set)", {{kPlugins + "bad.json", Json("", "", "\"no such command\"")}}, 1,
       {"<root>/" + kPlugins + "bad.json: command: start command \"no such command\": Unknown command or namespace: "
                               "no such command"}},
      {"unknown and missing option", {{kPlugins + "a.json", Json("", "", "\"sysctl set --key=a --valu=1\"")}}, 1,
       {"<root>/" + kPlugins + "a.json: command: start command \"sysctl set --key=a --valu=1\": Missing parameter "
                               "--value for command 'sysctl set'",
        "<root>/" + kPlugins + "a.json: command: start command \"sysctl set --key=a --valu=1\": Unknown parameter "
                               "--valu for command 'sysctl set'"}},
      {"bad quoting", {{kPlugins + "a.json", Json("", "", "\"file write --path='/x\"")}}, 1,
       {"<root>/" + kPlugins + "a.json: command: start command \"file write --path='/x\": "}},
      {"debug.conf malformed and bad escape", {{"etc/quarro/bootcrank/debug.conf", "a:x:y\n\nb:r\\q:p:true\n"}}, 1,
       {"<root>/etc/quarro/bootcrank/debug.conf:1: debug-conf: malformed entry ",
        "<root>/etc/quarro/bootcrank/debug.conf:3: debug-conf: bad escape: "}},
      {"run-once key changes", {{kPlugins + "once.json", Json("", "", "", ", \"run_once\": true, \"plugin_version\": \"1 beta\"")}}, 1,
       {"<root>/" + kPlugins + "once.json: run-once: run-once key \"once1 beta\" is recorded as \"once1beta\""}},
      {"run-once key kept", {{kPlugins + "once.json", Json("", "", "", ", \"run_once\": true, \"plugin_version\": \"2.1\"")}}, 0, {}},
  };
  return cases;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

Output Verify(const ScratchDir& root, const std::vector<std::string>& args = {}) {
  std::vector<std::string> argv = {"verify"};
  argv.insert(argv.end(), args.begin(), args.end());
  return Analyze(argv, {"BOOTCRANK_ROOT=" + root.path, "NO_COLOR=1"});
}

void InstallCoreExtension(const ScratchDir& root) {
  root.Write("usr/lib/quarro/hvcli/core.so", Slurp(BOOTCRANK_CORE_EXTENSION));
}

TEST(Verify, EachBrokenSetIsReportedWithItsFileAndEachSoundOnePasses) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ScratchDir root;
    InstallCoreExtension(root);
    boost::filesystem::create_directories(root.path + "/" + kPlugins);
    for (const auto& file : c.files) root.Write(file.first, file.second);
    Output result = Verify(root);
    EXPECT_EQ(c.status, result.status) << result.out << result.err;
    EXPECT_EQ("", result.err);
    std::string out = "\n" + Replace(result.out, root.path, "<root>");
    for (const std::string& line : c.expected) EXPECT_NE(std::string::npos, out.find("\n" + line)) << out;
    // One line per expected finding, then the summary.
    size_t lines = std::count(out.begin(), out.end(), '\n');
    EXPECT_EQ(c.expected.size() + 2, lines) << out;
  }
}

TEST(Verify, JsonOutputHoldsTheFindings) {
  ScratchDir root;
  root.Write(kPlugins + "broken.json", "{\n  \"metadata\": {\n    \"version\": 3,,\n");
  Output result = Verify(root, {"--json"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("[\n  {\n    \"column\": 18,\n    \"file\": \"" + root.path + "/" + kPlugins + "broken.json\",\n"
            "    \"kind\": \"load-error\",\n", result.out.substr(0, result.out.find("    \"line\"")));
}

TEST(Verify, TheExamplePluginsPassButTheDeliberatelyBrokenOne) {
  ScratchDir root;
  InstallCoreExtension(root);
  ASSERT_EQ(0, ::bootcrank::testing::Shell("mkdir -p '" + root.path + "/" + kPlugins + "' && cp '" BOOTCRANK_SOURCE_DIR
                                             "/examples/plugins/'*.json '" + root.path + "/" + kPlugins + "'"));
  Output result = Verify(root);
  EXPECT_EQ(1, result.status) << result.err;
  EXPECT_EQ(root.path + "/" + kPlugins + "legacy-tools.json: load-error: plugin `" + root.path + "/" + kPlugins +
                "legacy-tools.json' is invalid: metadata is corrupt (unable to parse version)\nverify: 1 finding in " +
                root.path + "/usr/libexec/bootcrank/plugins\n",
            result.out);
}

TEST(Verify, ADirectoryThatIsNotThereCannotBeChecked) {
  ScratchDir root;
  Output result = Verify(root, {"--plugin-directory=" + root.path + "/absent"});
  EXPECT_EQ(2, result.status);
  EXPECT_EQ("bootcrank-analyze verify: cannot check: " + root.path + "/absent: not a plugin directory\n", result.err);
}

}  // namespace
}  // namespace testing
}  // namespace analyze
}  // namespace bootcrank
