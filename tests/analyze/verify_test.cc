// bootcrank-analyze verify, run as a program on plugin sets in a scratch
// host root (the core CLI extension installed): each broken set is reported
// with its file and line, each sound one passes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace testing {
namespace {

const std::string kPlugins = "usr/libexec/bootcrank/plugins/", kEtc = "etc/quarro/bootcrank/";

std::string Json(const std::string& requires, const std::string& provides,
                 const std::string& start = "", const std::string& extra = "") {
  return "{\"metadata\": {\"version\": " + std::string(extra.empty() ? "2" : "3") +
         ", \"requires\": [" + requires + "], \"provides\": [" + provides + "]" + extra +
         "},\n \"operations\": {\"start\": [" + start + "]}}\n";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

Output Verify(const ScratchDir& root, std::vector<std::string> args = {}) {
  root.Write("usr/lib/quarro/hvcli/core.so", Slurp(BOOTCRANK_CORE_EXTENSION));
  args.insert(args.begin(), "verify");
  return Analyze(args, {"BOOTCRANK_ROOT=" + root.path, "NO_COLOR=1"});
}

// Files are in the plugin directory but debug.conf; in the findings, one a
// line, paths are shortened to what follows the plugin or configuration directory.
TEST(Verify, EachBrokenSetIsReportedWithItsFileAndEachSoundOnePasses) {
  struct Case {
    const char* name;
    int status;
    std::string findings, file = "", content = "", file2 = "", content2 = "";
  } const cases[] = {
      {"sound set", 0, "", "a.json", Json("", "\"a-done\"", "\"file write --path=/x --content=1\""),
       "b.json", Json("\"a-done\"", "")},
      {"empty directory", 0, ""},
      {"json syntax error", 1, "broken.json:3:18: load-error: ", "broken.json",
       "{\n  \"metadata\": {\n    \"version\": 3,,\n"},
      {"no metadata", 1, "nometa.json: load-error: ", "nometa.json",
       "{\"operations\": {\"start\": []}}"},
      {"native plugin whose tables cannot be read", 1, "libnet.so: load-error: ", "libnet.so",
       "not an object"},
      {"duplicate name", 1, "debug.conf:1: duplicate: plugin name \"net\" is also that of net.json",
       "net.json", Json("", "\"a\""), "debug.conf", "net:a:b:true\n"},
      {"no provider, near name", 1,
       "a.json: no-provider: \"a\" requires \"storage-redy\", which nothing provides "
       "(did you mean \"storage-ready\"?)",
       "a.json", Json("\"storage-redy\"", ""), "s.json", Json("", "\"storage-ready\"")},
      {"cycle", 1,
       "a.json: cycle: dependency cycle of 4 nodes: \"a\" requires \"b-done\" (a.json); "
       "\"b\" provides \"b-done\" (b.json); \"b\" requires \"a-done\" (b.json); "
       "\"a\" provides \"a-done\" (a.json)",
       "a.json", Json("\"b-done\"", "\"a-done\""), "b.json", Json("\"a-done\"", "\"b-done\"")},
      {"cycle through a debug injection", 1,
       "a.json: cycle: dependency cycle of 4 nodes: \"a\" requires \"d-done\" (a.json); "
       "\"d\" provides \"d-done\" (debug.conf:2); ",
       "a.json", Json("\"d-done\"", "\"a-done\""), "debug.conf", "\nd:a-done:d-done:true\n"},
      {"command too long", 1,
       "a.json: command-length: start command of 1031 bytes, longer than the 1023 ", "a.json",
       Json("", "", "\"file write --path=/x --content=" + std::string(1000, 'y') + "\"")},
      {"unknown command", 1,
       "bad.json: command: start command \"no such command\": "
       "Unknown command or namespace: no such command",
       "bad.json", Json("", "", "\"no such command\"")},
      {"unknown and missing option", 1,
       "a.json: command: start command \"sysctl set --key=a --valu=1\": "
       "Missing parameter --value for command 'sysctl set'\n"
       "a.json: command: start command \"sysctl set --key=a --valu=1\": "
       "Unknown parameter --valu for command 'sysctl set'",
       "a.json", Json("", "", "\"sysctl set --key=a --valu=1\"")},
      {"bad quoting", 1, "a.json: command: start command \"file write --path='/x\": ", "a.json",
       Json("", "", "\"file write --path='/x\"")},
      {"debug.conf malformed and bad escape", 1,
       "debug.conf:1: debug-conf: malformed entry \ndebug.conf:3: debug-conf: bad escape: ",
       "debug.conf", "a:x:y\n\nb:r\\q:p:true\n"},
      {"run-once key changes", 1,
       "once.json: run-once: run-once key \"once1 beta\" is recorded as \"once1beta\"", "once.json",
       Json("", "", "", ", \"run_once\": true, \"plugin_version\": \"1 beta\"")},
      {"run-once key kept", 0, "", "once.json",
       Json("", "", "", ", \"run_once\": true, \"plugin_version\": \"2.1\"")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir root;
    boost::filesystem::create_directories(root.path + "/" + kPlugins);
    for (const auto& [file, content] :
         {std::pair(c.file, c.content), std::pair(c.file2, c.content2)})
      if (!file.empty()) root.Write((file == "debug.conf" ? kEtc : kPlugins) + file, content);
    Output result = Verify(root);
    EXPECT_EQ(c.status, result.status) << result.out << result.err;
    EXPECT_EQ("", result.err);
    std::string out = "\n" + Replace(Replace(result.out, root.path + "/" + kPlugins, ""),
                                     root.path + "/" + kEtc, "");
    std::istringstream findings(c.findings);
    size_t lines = 1;  // the summary
    for (std::string line; std::getline(findings, line); ++lines)
      EXPECT_NE(std::string::npos, out.find("\n" + line)) << out;
    EXPECT_EQ(lines + 1, std::count(out.begin(), out.end(), '\n')) << out;
  }
}

TEST(Verify, JsonOutputHoldsTheFindings) {
  ScratchDir root;
  root.Write(kPlugins + "broken.json", "{\n  \"metadata\": {\n    \"version\": 3,,\n");
  Output result = Verify(root, {"--json"});
  EXPECT_EQ(1, result.status);
  nlohmann::json finding = nlohmann::json::parse(result.out).at(0);
  EXPECT_EQ(finding["file"], root.path + "/" + kPlugins + "broken.json");
  EXPECT_EQ((std::vector<nlohmann::json>{finding["line"], finding["column"], finding["kind"]}),
            (std::vector<nlohmann::json>{3, 18, "load-error"}));
}

TEST(Verify, TheExamplePluginsPassButTheDeliberatelyBrokenOne) {
  ScratchDir root;
  const std::string plugins = root.path + "/" + kPlugins;
  ASSERT_EQ(0, ::bootcrank::testing::Shell(
                   "mkdir -p '" + plugins +
                   "' && cp '" BOOTCRANK_SOURCE_DIR "/examples/plugins/'*.json '" + plugins + "'"));
  Output result = Verify(root);
  EXPECT_EQ(1, result.status) << result.err;
  EXPECT_EQ(plugins + "legacy-tools.json: load-error: plugin `" + plugins +
                "legacy-tools.json' is invalid: metadata is corrupt (unable to parse "
                "version)\nverify: 1 finding in " +
                root.path + "/usr/libexec/bootcrank/plugins\n",
            result.out);
}

}  // namespace
}  // namespace testing
}  // namespace analyze
}  // namespace bootcrank
