#include "plugins/native_plugin.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "graph/barrier.h"
#include "graph/graph_lock.h"
#include "plugins/exception.h"
#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

const char kExecutor[] = BOOTCRANK_BINARY_DIR "/native_executor/nativeExecutor";

// Plugin sources are compiled by the test with the system C compiler against
// the public header; the methods run in the real executor program, which a
// temporary host root provides.
class NativePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/bootcrank-native-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    root_ = dir_ + "/root";
    ASSERT_EQ(testing::Shell("mkdir -p '" + root_ + "/usr/lib/quarro/bootcrank'"), 0);
    ASSERT_EQ(symlink(kExecutor,
                      (root_ + "/usr/lib/quarro/bootcrank/nativeExecutor").c_str()),
              0);
    const char* saved = getenv("BOOTCRANK_ROOT");
    hadRoot_ = saved != nullptr;
    if (hadRoot_) savedRoot_ = saved;
    setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
  }

  void TearDown() override {
    if (hadRoot_) {
      setenv("BOOTCRANK_ROOT", savedRoot_.c_str(), 1);
    } else {
      unsetenv("BOOTCRANK_ROOT");
    }
    testing::Shell("rm -rf '" + dir_ + "'");
  }

  // Compiles `body` (C, after the public header and libc includes) into
  // <dir>/lib<name>.so.
  std::string Compile(const std::string& name, const std::string& body) {
    std::string source = dir_ + "/" + name + ".c";
    std::string object = dir_ + "/lib" + name + ".so";
    std::ofstream(source) << "#include <bootcrank/native_plugin.h>\n"
                             "#include <fcntl.h>\n#include <signal.h>\n"
                             "#include <stdio.h>\n#include <stdlib.h>\n"
                             "#include <string.h>\n#include <unistd.h>\n"
                             "extern char **environ;\n"
                          << body;
    int status = testing::Shell("cc -shared -fPIC -Wall -Werror -I'" BOOTCRANK_SOURCE_DIR
                                "/include' -o '" + object + "' '" + source + "'");
    EXPECT_EQ(status, 0) << "compiling " << name;
    return object;
  }

  // A plugin of `version` whose start does what the file <dir>/behaviour
  // says: "exit N", "kill", "env" (0 when the environment is empty), "fds"
  // (0 when no descriptor above 2 is open; writes to its standard output).
  // Its apply-host-profile entry creates <dir>/applied.
  std::string Scripted(const std::string& name, int version) {
    std::ostringstream body;
    body << "static int Start(void) {\n"
            "  char word[16] = \"\"; int n = 0;\n"
            "  FILE *f = fopen(\"" << dir_ << "/behaviour\", \"r\");\n"
            "  if (!f) return 99;\n"
            "  if (fscanf(f, \"%15s %d\", word, &n) < 1) return 98;\n"
            "  fclose(f);\n"
            "  if (!strcmp(word, \"exit\")) return n;\n"
            "  if (!strcmp(word, \"kill\")) raise(SIGKILL);\n"
            "  if (!strcmp(word, \"env\")) return environ[0] == NULL ? 0 : 3;\n"
            "  if (!strcmp(word, \"fds\")) {\n"
            "    for (int fd = 3; fd < 256; ++fd) if (fcntl(fd, F_GETFD) != -1) return 4;\n"
            "    printf(\"native plugin output\\n\");\n"
            "    return 0;\n"
            "  }\n"
            "  return 97;\n"
            "}\n"
            "static int Apply(void) {\n"
            "  return open(\"" << dir_ << "/applied\", O_CREAT | O_WRONLY, 0644) < 0;\n"
            "}\n"
            "const struct bootcrank_metadata metadata = {.version = " << version << "};\n"
            "const struct bootcrank_operations operations = {Start, Apply};\n";
    return Compile(name, body.str());
  }

  void Behave(const std::string& what) const {
    std::ofstream(dir_ + "/behaviour") << what << "\n";
  }

  // The reason of the MethodFailedException that `run` throws, or "ok".
  template <typename F>
  static std::string Failure(const std::string& prefix, F run) {
    try {
      run();
      return "ok";
    } catch (const MethodFailedException& e) {
      std::string what = e.what();
      if (what.compare(0, prefix.size(), prefix) != 0) return "bad text: " + what;
      return what.substr(prefix.size());
    }
  }

  std::string dir_;
  std::string root_;
  bool hadRoot_ = false;
  std::string savedRoot_;
};

TEST_F(NativePluginTest, Version1WithoutBarriersOrHostProfile) {
  std::string path = Compile("bare", R"(
    static int Start(void) { return 0; }
    const struct bootcrank_metadata metadata = {1, NULL, NULL};
    const struct bootcrank_operations operations = {Start, NULL};
  )");
  NativePlugin* p = new NativePlugin("bare", path);
  EXPECT_EQ(p->ApiVersion(), 1);
  EXPECT_EQ(p->LibraryPath(), path);
  EXPECT_FALSE(p->HasHostProfileEntry());
  EXPECT_FALSE(p->UsesHostProfile());
  {
    GraphLockHolder lock;
    EXPECT_TRUE(p->Dependencies().empty());
    EXPECT_TRUE(p->Dependents().empty());
  }
  try {
    p->ApplyHostProfile();
    FAIL() << "no exception";
  } catch (const NotImplementedException& e) {
    EXPECT_STREQ(e.what(), "method `NativePlugin::ApplyHostProfile' is not implemented");
  }
  p->Start();
}

TEST_F(NativePluginTest, HostProfileEntryCountsFromVersion2) {
  NativePlugin* v1 = new NativePlugin("hp1", Scripted("hp1", 1));
  EXPECT_TRUE(v1->HasHostProfileEntry());
  EXPECT_FALSE(v1->UsesHostProfile());
  EXPECT_THROW(v1->ApplyHostProfile(), NotImplementedException);
  EXPECT_NE(access((dir_ + "/applied").c_str(), F_OK), 0);

  NativePlugin* v2 = new NativePlugin("hp2", Scripted("hp2", 2));
  EXPECT_TRUE(v2->UsesHostProfile());
  v2->ApplyHostProfile();  // runs the second slot in the executor
  EXPECT_EQ(access((dir_ + "/applied").c_str(), F_OK), 0);
}

TEST_F(NativePluginTest, BarriersProvidedAndRequired) {
  std::string path = Compile("linked", R"(
    static const char *const req[] = {"nativelink-r", NULL};
    static const char *const prov[] = {"nativelink-p1", "nativelink-p2", NULL};
    const struct bootcrank_metadata metadata = {2, req, prov};
    const struct bootcrank_operations operations = {NULL, NULL};
  )");
  NativePlugin* p = new NativePlugin("linked", path);
  Node* r = GetBarrier("nativelink-r", false);
  Node* p1 = GetBarrier("nativelink-p1", false);
  Node* p2 = GetBarrier("nativelink-p2", false);
  GraphLockHolder lock;
  EXPECT_EQ(p->Dependencies(), std::vector<Node*>{r});
  EXPECT_EQ(p->Dependents(), (std::vector<Node*>{p1, p2}));
  EXPECT_EQ(p1->Dependencies(), std::vector<Node*>{p});
}

TEST_F(NativePluginTest, Version3FieldsAndShortOlderTables) {
  std::string v3 = Compile("v3", R"(
    static const char *const req[] = {"b", "a", "b", NULL};
    static const char *const dis[] = {"x", NULL};
    const struct bootcrank_metadata metadata = {3, NULL, NULL, "1.2 beta", 1, req, dis};
    const struct bootcrank_operations operations = {NULL, NULL};
  )");
  NativePlugin* p = new NativePlugin("v3", v3);
  EXPECT_EQ(p->ApiVersion(), 3);
  EXPECT_TRUE(p->RunOnce());
  EXPECT_EQ(p->PluginVersion(), "1.2 beta");
  EXPECT_EQ(p->RequiredFlags(), (std::set<std::string>{"a", "b"}));
  EXPECT_EQ(p->DisablingFlags(), (std::set<std::string>{"x"}));

  std::string v4 = Compile("v4", R"(
    const struct bootcrank_metadata metadata = {4, NULL, NULL, NULL, 0, NULL, NULL};
    const struct bootcrank_operations operations = {NULL, NULL};
  )");
  NativePlugin* q = new NativePlugin("v4", v4);
  EXPECT_EQ(q->ApiVersion(), 4);
  EXPECT_EQ(q->PluginVersion(), "");  // run-once key: the name alone
  EXPECT_FALSE(q->RunOnce());

  // A version 2 object may end its table after the provides list; whatever
  // follows it in memory is not read.
  std::string shortTable = Compile("short", R"(
    struct { unsigned int version; const char *const *r, *const *p; } metadata = {2, NULL, NULL};
    struct { void *follows; const char *junk; } after = {NULL, "junk"};
    const struct bootcrank_operations operations = {NULL, NULL};
  )");
  NativePlugin* s = new NativePlugin("short", shortTable);
  EXPECT_EQ(s->ApiVersion(), 2);
  EXPECT_TRUE(s->RequiredFlags().empty());
  EXPECT_EQ(s->PluginVersion(), "");
}

TEST_F(NativePluginTest, LoadFailures) {
  for (int version : {0, 5}) {
    std::string name = "bad" + std::to_string(version);
    std::string path = Compile(name, R"(
      static const char *const names[] = {"nativereject-)" + name + R"(", NULL};
      const struct bootcrank_metadata metadata = {)" + std::to_string(version) +
                                               R"(, names, names};
      const struct bootcrank_operations operations = {NULL, NULL};
    )");
    try {
      new NativePlugin(name, path);
      FAIL() << "loaded version " << version;
    } catch (const InvalidPluginException& e) {
      EXPECT_EQ(std::string(e.what()),
                "plugin `" + path + "' is invalid: Unsupported API version");
    }
    EXPECT_EQ(GetBarrier("nativereject-" + name, false), nullptr);
  }

  const std::pair<const char*, const char*> missing[] = {
      {"operations", "const struct bootcrank_metadata metadata = {1, NULL, NULL};\n"},
      {"metadata", "const struct bootcrank_operations operations = {NULL, NULL};\n"},
  };
  for (const auto& [symbol, body] : missing) {
    std::string path = Compile(std::string("no") + symbol, body);
    try {
      new NativePlugin("x", path);
      FAIL() << "loaded without " << symbol;
    } catch (const InvalidPluginException& e) {
      FAIL() << e.what();
    } catch (const Exception& e) {
      std::string expected = std::string("Failed loading symbol: ") + symbol +
                             " Located at: " + path + " Reason: ";
      EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected);
      EXPECT_GT(std::string(e.what()).size(), expected.size());  // dlerror's text
    }
  }

  std::string text = dir_ + "/libtext.so";
  std::ofstream(text) << "not an object\n";
  try {
    new NativePlugin("text", text);
    FAIL() << "loaded a text file";
  } catch (const InvalidPluginException& e) {
    std::string prefix = "plugin `" + text + "' is invalid: ";
    EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
    EXPECT_NE(std::string(e.what()).find(text, prefix.size()), std::string::npos);
  }
}

TEST_F(NativePluginTest, ExitStatusBecomesTheResult) {
  NativePlugin* p = new NativePlugin("status", Scripted("status", 1));
  const std::string prefix = "status->start() failed: ";
  Behave("exit 0");
  EXPECT_EQ(Failure(prefix, [p] { p->Start(); }), "ok");
  Behave("exit 2");
  EXPECT_EQ(Failure(prefix, [p] { p->Start(); }), "exited with code 2");
  Behave("exit 255");
  EXPECT_EQ(Failure(prefix, [p] { p->Start(); }), "exited with code 255");
  Behave("exit 300");  // out of range: the executor exits with 1
  EXPECT_EQ(Failure(prefix, [p] { p->Start(); }), "exited with code 1");
  Behave("exit -4");
  EXPECT_EQ(Failure(prefix, [p] { p->Start(); }), "exited with code 1");
  Behave("kill");
  EXPECT_EQ(Failure(prefix, [p] { p->Start(); }), "exited with signal: 9");
}

TEST_F(NativePluginTest, ChildGetsEmptyEnvironmentAndOnlyStandardDescriptors) {
  NativePlugin* p = new NativePlugin("isolated", Scripted("isolated", 1));
  setenv("BOOTCRANK_NATIVE_TEST", "1", 1);
  Behave("env");
  EXPECT_EQ(Failure("", [p] { p->Start(); }), "ok");
  unsetenv("BOOTCRANK_NATIVE_TEST");

  int leaked = open("/dev/null", O_RDONLY);  // deliberately not close-on-exec
  ASSERT_GE(leaked, 3);
  Behave("fds");
  testing::LogCapture capture;
  EXPECT_EQ(Failure("", [p] { p->Start(); }), "ok");
  close(leaked);
  EXPECT_NE(capture.Text().find("native plugin output\n"), std::string::npos);
}

TEST_F(NativePluginTest, MissingExecutorFailsToSpawn) {
  ASSERT_EQ(unlink((root_ + "/usr/lib/quarro/bootcrank/nativeExecutor").c_str()), 0);
  EXPECT_EQ(Failure("", [] {
              NativePlugin::RunNativeMethod("start", "gone", "/nonexistent.so");
            }),
            "gone->start() failed: failed to spawn: No such file or directory");
}

// The executor program on its own: argument and loading errors never reach
// plugin code and end with a message and a non-zero status.
TEST_F(NativePluginTest, ExecutorProgramContract) {
  std::string scripted = Scripted("direct", 2);
  std::string noApply = Compile("noapply", R"(
    static int Start(void) { return 7; }
    const struct bootcrank_metadata metadata = {2, NULL, NULL};
    const struct bootcrank_operations operations = {Start, NULL};
  )");
  std::string noOperations = Compile("noops",
      "const struct bootcrank_metadata metadata = {1, NULL, NULL};\n");
  const std::vector<std::string> env;
  auto run = [&env](std::vector<std::string> args) {
    args.insert(args.begin(), kExecutor);
    return testing::RunProcess(args, &env, 30);
  };

  testing::RunResult r = run({noApply, "noapply", "start"});
  EXPECT_EQ(r.status, 7);
  r = run({scripted, "direct", "apply_host_profile"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(access((dir_ + "/applied").c_str(), F_OK), 0);

  const struct {
    std::vector<std::string> args;
    const char* message;
  } errors[] = {
      {{noApply, "noapply"}, "usage: nativeExecutor <library> <plugin-name> <method>"},
      {{noApply, "noapply", "stop"}, "noapply: unknown method: stop"},
      {{noApply, "noapply", "apply_host_profile"},
       "noapply: no entry point for method: apply_host_profile"},
      {{noOperations, "noops", "start"}, "noops: missing symbol operations"},
      {{dir_ + "/nothing.so", "nothing", "start"}, "nothing: cannot load library"},
  };
  for (const auto& e : errors) {
    r = run(e.args);
    EXPECT_NE(r.status, 0) << e.message;
    EXPECT_NE(r.err.find(e.message), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace bootcrank
