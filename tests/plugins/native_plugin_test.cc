// Plugin objects built against the public header, read and run by the real
// executor program. Hostile objects are checked end to end
// (NativeTablesEndToEnd).
#include "plugins/native_plugin.h"

#include "graph/graph.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "graph/barrier.h"
#include "base/graph_lock.h"
#include "support/sandbox.h"
#include "support/temp_root.h"
#include "support/thrown.h"

namespace bootcrank {
namespace {

using testing::Thrown;

class NativePluginTest : public ::testing::Test {
 protected:
  NativePluginTest() {
    boost::filesystem::create_directories(root_.Path("usr/lib/quarro/bootcrank"));
    boost::filesystem::create_symlink(BOOTCRANK_BINARY_DIR "/native_executor/nativeExecutor",
                                      root_.Path("usr/lib/quarro/bootcrank/nativeExecutor"));
  }

  // Builds lib<name>.so from `body` (C, after the public header) and loads it
  // into *out: "", or the text of the exception.
  std::string Load(const std::string& name, const std::string& body, NativePlugin** out = nullptr) {
    root_.Write(name + ".c", "#include <bootcrank/native_plugin.h>\n#include <signal.h>\n"
                             "#include <stdio.h>\n#include <stdlib.h>\n#include <unistd.h>\n" + body);
    std::string object = root_.Path("lib" + name + ".so");
    EXPECT_EQ(0, testing::Shell("cc -shared -fPIC -Wall -Werror -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" +
                                object + "' '" + root_.Path(name + ".c") + "'"));
    NativePlugin* unused;
    return Thrown([&] { *(out ? out : &unused) = graph_.Add(std::make_unique<NativePlugin>(graph_, name, object)); });
  }

  testing::TempRoot root_;
  Graph graph_;
};

TEST_F(NativePluginTest, Version1WithNullPointers) {
  NativePlugin* p = nullptr;
  ASSERT_EQ("", Load("bare", R"(
    static int Start(void) { return 0; }
    const struct bootcrank_metadata metadata = {1, NULL, NULL};
    const struct bootcrank_operations operations = {Start, NULL};
  )", &p));
  EXPECT_FALSE(p->UsesHostProfile());
  {
    GraphLockHolder lock;
    EXPECT_TRUE(p->Dependencies().empty() && p->Dependents().empty());
  }
  EXPECT_EQ("method `NativePlugin::ApplyHostProfile' is not implemented", Thrown([&] { p->ApplyHostProfile(); }));
  EXPECT_EQ("", Thrown([&] { p->Start(); }));
}

TEST_F(NativePluginTest, LoadFailures) {
  for (int version : {0, 5}) {
    std::string name = "bad" + std::to_string(version);
    EXPECT_EQ("plugin `" + root_.Path("lib" + name + ".so") + "' is invalid: Unsupported API version",
              Load(name, "static const char *const names[] = {\"nativereject-" + name + "\", NULL};\n"
                         "const struct bootcrank_metadata metadata = {" + std::to_string(version) +
                         ", names, names};\nconst struct bootcrank_operations operations = {NULL, NULL};\n"));
    EXPECT_EQ(graph_.GetBarrier("nativereject-" + name, false), nullptr);
  }
  std::string text = Load("noops", "const struct bootcrank_metadata metadata = {1, NULL, NULL};\n");
  void* noops = dlopen(root_.Path("libnoops.so").c_str(), RTLD_LAZY | RTLD_GLOBAL);  // a harmless object
  ASSERT_NE(nullptr, noops);
  EXPECT_EQ(nullptr, dlsym(noops, "operations"));
  EXPECT_EQ("Failed loading symbol: operations Located at: " + root_.Path("libnoops.so") + " Reason: " + dlerror(),
            text);
  dlclose(noops);

  ASSERT_EQ(0, mkfifo(root_.Path("libfifo.so").c_str(), 0644));  // nobody writes it: must not block
  EXPECT_EQ("plugin `" + root_.Path("libfifo.so") + "' is invalid: not a regular file",
            Thrown([&] { NativePlugin(graph_, "fifo", root_.Path("libfifo.so")); }));

  // The loader's own text, as this process's loader gives it for the file.
  root_.Write("libjunk.so", "not an object\n");
  for (const char* file : {"libjunk.so", "libmissing.so"}) {
    void* handle = dlopen(root_.Path(file).c_str(), RTLD_LAZY | RTLD_GLOBAL);
    ASSERT_EQ(nullptr, handle) << file;
    EXPECT_EQ("plugin `" + root_.Path(file) + "' is invalid: " + dlerror(),
              Thrown([&] { NativePlugin(graph_, "x", root_.Path(file)); }));
  }
}

TEST_F(NativePluginTest, Version3FieldsAndNamesComeThroughByteForByte) {
  NativePlugin* p = nullptr;
  ASSERT_EQ("", Load("full", R"(
    static const char *const needs[] = {"plain", "comma,colon:9", "new\nline", "\xc3\xa9t\xff", "", NULL};
    static const char *const gives[] = {"full-ready", NULL};
    static const char *const required[] = {"b", "a", NULL};
    static const char *const disabling[] = {"x", NULL};
    const struct bootcrank_metadata metadata = {4, needs, gives, "2.0 beta", 2, required, disabling};
    const struct bootcrank_operations operations = {NULL, NULL};
  )", &p));
  EXPECT_EQ(4, p->ApiVersion());
  EXPECT_EQ("2.0 beta", p->PluginVersion());
  EXPECT_TRUE(p->RunOnce());
  EXPECT_EQ((std::set<std::string>{"a", "b"}), p->RequiredFlags());
  EXPECT_EQ(std::set<std::string>{"x"}, p->DisablingFlags());
  GraphLockHolder lock;
  std::vector<std::string> needed, given;
  for (Node* barrier : p->Dependencies()) needed.push_back(barrier->Name());
  for (Node* barrier : p->Dependents()) given.push_back(barrier->Name());
  EXPECT_EQ((std::vector<std::string>{"plain", "comma,colon:9", "new\nline", "\xc3\xa9t\xff", ""}), needed);
  EXPECT_EQ(std::vector<std::string>{"full-ready"}, given);
}

TEST_F(NativePluginTest, Version3WithNullVersionAndListsAndVersion2WithNoSuchFields) {
  NativePlugin* p = nullptr;
  ASSERT_EQ("", Load("nulls", R"(
    const struct bootcrank_metadata metadata = {3, NULL, NULL, NULL, 0, NULL, NULL};
    const struct bootcrank_operations operations = {NULL, NULL};
  )", &p));
  EXPECT_EQ("", p->PluginVersion());
  EXPECT_FALSE(p->RunOnce());
  EXPECT_TRUE(p->RequiredFlags().empty() && p->DisablingFlags().empty());
  // The version-3 fields of an older table are never looked at, whatever
  // follows the table in memory.
  ASSERT_EQ("", Load("old", R"(
    const struct bootcrank_metadata metadata = {2, NULL, NULL, (const char *)8, 1, (bootcrank_name_list)8};
    const struct bootcrank_operations operations = {NULL, NULL};
  )", &p));
  EXPECT_EQ(2, p->ApiVersion());
  EXPECT_FALSE(p->RunOnce());
}

// A constructor that leaves a process behind holding the executor's output
// does not hold the loading until the time limit.
TEST_F(NativePluginTest, AProcessLeftByAConstructorDoesNotHoldTheLoading) {
  NativePlugin* p = nullptr;
  ASSERT_EQ("", Load("spawner", R"(
    __attribute__((constructor)) static void Init(void) {
      pid_t pid = fork();
      if (pid == 0) { sleep(60); _exit(0); }
      FILE *f = fopen(")" + root_.Path("lingering") + R"(", "w");
      fprintf(f, "%d", (int)pid);
      fclose(f);
    }
    const struct bootcrank_metadata metadata = {2, NULL, NULL};
    const struct bootcrank_operations operations = {NULL, NULL};
  )", &p));
  EXPECT_EQ(2, p->ApiVersion());
  pid_t lingering = std::stoi(root_.Read("lingering"));
  EXPECT_EQ(0, kill(lingering, SIGKILL));  // still there: it was not waited for
}

TEST_F(NativePluginTest, Version2HostProfileSlotAndExitStatus) {
  NativePlugin* p = nullptr;
  ASSERT_EQ("", Load("status", R"(
    static int Apply(void) { return fopen(")" + root_.Path("applied") + R"(", "w") == NULL; }
    static int Start(void) {
      int n = 99;
      FILE *f = fopen(")" + root_.Path("status") + R"(", "r");
      if (f != NULL && fscanf(f, "%d", &n) == 1 && n < 0) raise(-n);
      return n;
    }
    const struct bootcrank_metadata metadata = {2, NULL, NULL};
    const struct bootcrank_operations operations = {Start, Apply};
  )", &p));
  EXPECT_TRUE(p->UsesHostProfile());
  p->ApplyHostProfile();
  EXPECT_TRUE(boost::filesystem::exists(root_.Path("applied")));
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
