// Native plugins whose tables (read in a child) crash, exit, hang or lie cost
// only their own file, reported with its path; the other plugins run.
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

// A sanitizer's run-time in nativeExecutor turns a crash into an exit status.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// <plugin dir>/<name>.so from `code` and its tables: it provides
// "<name>-ready" and requires what `requires` points at.
int CompileTables(const Sandbox& box, const std::string& name, const std::string& code,
                  const std::string& requires = "NULL", const std::string& start = "return 0;") {
  return CompileNative(box, name,
                       code + "\nstatic const char *const provided[] = {\"" + name +
                           "-ready\", NULL};\nstatic int Start(void) {\n" + start +
                           "\n}\nconst struct bootcrank_metadata metadata = {1, " + requires +
                           ", provided};\n"
                           "const struct bootcrank_operations operations = {Start, NULL};\n");
}

TEST(NativeTablesEndToEnd, HostileObjectsAreLoadFailuresOfTheirOwnFileAndTheBootGoesOn) {
  Sandbox box;
  const std::string init = "__attribute__((constructor)) static void Init(void) ";
  const std::string crashed = kSanitized ? "" : "killed by signal 11 (Segmentation fault)";
  struct Case {
    std::string name, code, requires, what;
  } cases[] = {
      {"crash", init + "{ raise(SIGSEGV); }", "NULL", crashed},
      {"quits", init + "{ _exit(0); }", "NULL", "exited with code 0 without an answer"},
      {"hangs", init + "{ for (;;) pause(); }", "NULL", "no answer within 5 s; killed"},
      {"nowhere", "", "(bootcrank_name_list)16", crashed},
      {"garbage", init + "{ write(3, \"junk\", 4); }", "NULL",
       "malformed answer: expected answer kind at byte 0"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(0, CompileTables(box, c.name, c.code, c.requires)) << c.name;
    // A plugin that waits for the hostile one runs all the same.
    box.WritePlugin(
        "after-" + c.name + ".json",
        Descriptor("\"" + c.name + "-ready\"", "",
                   "\"file write --path=/var/run/quarro/after-" + c.name + " --content=ok\""));
  }
  // A well-behaved native plugin among them, which waits for a JSON one.
  ASSERT_EQ(
      0, CompileTables(box, "good", "static const char *const needed[] = {\"first-ready\", NULL};",
                       "needed",
                       "return access(\"" + box.Path("/var/run/quarro/first") +
                           "\", F_OK) != 0 ||\n"
                           "       open(\"" +
                           box.Path("/good.ran") + "\", O_CREAT | O_WRONLY, 0644) < 0;"));
  box.WritePlugin(
      "first.json",
      Descriptor("", "\"first-ready\"", "\"file write --path=/var/run/quarro/first --content=1\""));
  // Well inside the test's own time-out, so that a hung boot fails here.
  RunResult run = RunExpecting(box, {"--init", "--parallel"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "exception occurred whilst loading plugin " + c.name + ".so: plugin `" +
                       box.PluginDir() + "/" + c.name +
                       ".so' is invalid: reading its tables in nativeExecutor: " + c.what;
    for (const char* tag : {"alert", "warning"}) {
      EXPECT_TRUE(c.what.empty() ? CountRecords(run.out, tag, text) == 1
                                 : HasRecord(run.out, tag, text))
          << tag << "\n"
          << run.out;
    }
    EXPECT_EQ("ok", box.ReadFile("/var/run/quarro/after-" + c.name));
  }
  EXPECT_TRUE(box.Exists("/good.ran")) << run.out;
  EXPECT_EQ("1", box.ReadFile("/var/run/quarro/first"));
  EXPECT_TRUE(Messages(run.out, "error").empty()) << run.out;
  EXPECT_EQ("", Leftovers(box));  // the hanging reader was killed
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
