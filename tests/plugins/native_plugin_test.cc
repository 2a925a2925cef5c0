// Plugin objects built against the public header, read and run by the real
// executor program. Hostile objects are checked end to end
// (NativeTablesEndToEnd).
#include "plugins/native_plugin.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "base/graph_lock.h"
#include "graph/graph.h"
#include "support/sandbox.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace {

using testing::Thrown;
using Names = std::vector<std::string>;

// The barriers that `plugin` requires, or provides.
Names Barriers(Node* plugin, bool provided) {
  GraphLockHolder lock;
  Names names;
  for (Node* node : provided ? plugin->Dependents() : plugin->Dependencies())
    names.push_back(node->Name());
  return names;
}

class NativePluginTest : public ::testing::Test {
 protected:
  NativePluginTest() {
    boost::filesystem::create_directories(root_.Path("usr/lib/quarro/bootcrank"));
    boost::filesystem::create_symlink(BOOTCRANK_BINARY_DIR "/native_executor/nativeExecutor",
                                      root_.Path("usr/lib/quarro/bootcrank/nativeExecutor"));
  }
  // Builds lib<name>.so from `body` (C after the public header; ROOT is the
  // scratch root) and loads it into *out (if given): "", or the exception's text.
  std::string Load(NativePlugin** out, const std::string& name, const std::string& body) {
    std::string object = root_.Path("lib" + name + ".so"), source = root_.Path(name + ".c");
    root_.Write(name + ".c",
                "#include <bootcrank/native_plugin.h>\n#include <signal.h>\n#include <stdio.h>\n" +
                    std::string("#define ROOT \"") + root_.root + "\"\n" + body);
    EXPECT_EQ(
        0, testing::Shell("cc -shared -fPIC -Wall -Werror -I" BOOTCRANK_SOURCE_DIR "/include -o " +
                          object + " " + source));
    NativePlugin* loaded = nullptr;
    std::string failure =
        Thrown([&] { loaded = graph_.Add(std::make_unique<NativePlugin>(graph_, name, object)); });
    if (out != nullptr) *out = loaded;
    return failure;
  }

  testing::TempRoot root_;
  Graph graph_;
};

// A version-1 table with null lists and an apply slot that version 1 does
// not have; the fields of later versions come through byte for byte.
TEST_F(NativePluginTest, EachVersionReadsItsOwnFieldsByteForByte) {
  NativePlugin* p = nullptr;
  ASSERT_EQ("", Load(&p, "bare", R"(
    static int Start(void) { return 0; }
    const struct bootcrank_metadata metadata = {1, NULL, NULL};
    const struct bootcrank_operations operations = {Start, Start};
  )"));
  EXPECT_FALSE(p->UsesHostProfile());
  EXPECT_TRUE(Barriers(p, false).empty() && Barriers(p, true).empty());
  EXPECT_EQ("method `NativePlugin::ApplyHostProfile' is not implemented",
            Thrown([&] { p->ApplyHostProfile(); }));
  EXPECT_EQ("", Thrown([&] { p->Start(); }));

  ASSERT_EQ("", Load(&p, "full", R"(
    static const char *const needs[] = {"plain", "comma,colon:9", "new\nline", "\xc3\xa9t\xff", "", NULL};
    static const char *const gives[] = {"full-ready", NULL};
    static const char *const required[] = {"b", "a", NULL};
    static const char *const disabling[] = {"x", NULL};
    const struct bootcrank_metadata metadata = {4, needs, gives, "2.0 beta", 2, required, disabling};
    const struct bootcrank_operations operations = {NULL, NULL};
  )"));
  EXPECT_EQ(4, p->ApiVersion());
  EXPECT_EQ("2.0 beta", p->PluginVersion());
  EXPECT_TRUE(p->RunOnce());
  EXPECT_EQ((std::set<std::string>{"a", "b"}), p->RequiredFlags());
  EXPECT_EQ(std::set<std::string>{"x"}, p->DisablingFlags());
  EXPECT_EQ((Names{"plain", "comma,colon:9", "new\nline", "\xc3\xa9t\xff", ""}),
            Barriers(p, false));
  EXPECT_EQ(Names{"full-ready"}, Barriers(p, true));

  ASSERT_EQ("", Load(&p, "nulls", R"(
    const struct bootcrank_metadata metadata = {3, NULL, NULL, NULL, 0, NULL, NULL};
    const struct bootcrank_operations operations = {NULL, NULL};
  )"));
  EXPECT_EQ("", p->PluginVersion());
  EXPECT_FALSE(p->RunOnce());
  EXPECT_TRUE(p->RequiredFlags().empty() && p->DisablingFlags().empty());
  // The version-3 fields of an older table are never looked at, whatever
  // follows the table in memory.
  ASSERT_EQ("", Load(&p, "old", R"(
    const struct bootcrank_metadata metadata = {2, NULL, NULL, (const char *)8, 1, (bootcrank_name_list)8};
    const struct bootcrank_operations operations = {NULL, NULL};
  )"));
  EXPECT_EQ(2, p->ApiVersion());
  EXPECT_FALSE(p->RunOnce());
}

// Versions out of range, a missing table, and objects the loader refuses,
// with the loader's own text as this process's loader gives it.
TEST_F(NativePluginTest, LoadFailures) {
  for (int version : {0, 5}) {
    std::string name = "bad" + std::to_string(version);
    EXPECT_EQ(
        "plugin `" + root_.Path("lib" + name + ".so") + "' is invalid: Unsupported API version",
        Load(nullptr, name,
             "static const char *const names[] = {\"nativereject-" + name + "\", NULL};\n" +
                 "const struct bootcrank_metadata metadata = {" + std::to_string(version) +
                 ", names, names};\nconst struct bootcrank_operations operations = {NULL, "
                 "NULL};\n"));
  }
  std::string text =
      Load(nullptr, "noops", "const struct bootcrank_metadata metadata = {1, NULL, NULL};\n");
  root_.Write("libjunk.so", "not an object\n");
  for (const char* file : {"libnoops.so", "libjunk.so", "libmissing.so"}) {
    void* handle = dlopen(root_.Path(file).c_str(), RTLD_LAZY | RTLD_GLOBAL);  // harmless objects
    if (handle != nullptr) {
      EXPECT_EQ(nullptr, dlsym(handle, "operations"));
      EXPECT_EQ("Failed loading symbol: operations Located at: " + root_.Path(file) +
                    " Reason: " + dlerror(),
                text);
      dlclose(handle);
    } else {
      EXPECT_EQ("plugin `" + root_.Path(file) + "' is invalid: " + dlerror(),
                Thrown([&] { NativePlugin(graph_, "x", root_.Path(file)); }));
    }
  }
}

// Start's status comes from the file "status": a negative one is a signal.
// The apply slot runs end to end (PluginKindsEndToEnd, in invoke mode).
TEST_F(NativePluginTest, StartExitStatusAndSignal) {
  NativePlugin* p = nullptr;
  ASSERT_EQ("", Load(&p, "status", R"(
    static int Start(void) {
      int n = 99;
      FILE *f = fopen(ROOT "/status", "r");
      if (f != NULL && fscanf(f, "%d", &n) == 1 && n < 0) raise(-n);
      return n;
    }
    const struct bootcrank_metadata metadata = {2, NULL, NULL};
    const struct bootcrank_operations operations = {Start, NULL};
  )"));
  for (const auto& [status, result] : std::vector<std::pair<std::string, std::string>>{
           {"0", ""},
           {"2", "status->start() failed: exited with code 2"},
           {"-9", "status->start() failed: exited with signal: 9"}}) {
    root_.Write("status", status);
    EXPECT_EQ(result, Thrown([&] { p->Start(); })) << status;
  }
}

}  // namespace
}  // namespace bootcrank
