// Plugin objects built by the test against the public header; their methods
// run in the real executor program, found in a scratch host root.
#include "plugins/native_plugin.h"

#include "graph/graph.h"

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
                             "#include <stdio.h>\n" + body);
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
  std::string expected = "Failed loading symbol: operations Located at: " + root_.Path("libnoops.so") + " Reason: ";
  std::string text = Load("noops", "const struct bootcrank_metadata metadata = {1, NULL, NULL};\n");
  EXPECT_EQ(expected, text.substr(0, expected.size()));
  EXPECT_GT(text.size(), expected.size());  // dlerror's text

  ASSERT_EQ(0, mkfifo(root_.Path("libfifo.so").c_str(), 0644));  // nobody writes it: must not block
  EXPECT_EQ("plugin `" + root_.Path("libfifo.so") + "' is invalid: not a regular file",
            Thrown([&] { NativePlugin(graph_, "fifo", root_.Path("libfifo.so")); }));
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
