// What the installed program hands to the code it runs, and what it leaves
// after a run: debug commands, native plugins, init scripts and the
// troubleshooting shell see only descriptors 0, 1 and 2; no process of the
// sandbox outlives the run; no temporary profiling log is left.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/pty_session.h"
#include "support/sandbox.h"
#include "tests/e2e/hygiene.h"

namespace bootcrank {
namespace testing {
namespace {

// A shell command that writes the descriptors a program it starts inherits
// to `file`, one number a line. A new shell lists its own (a shell keeps the
// script it reads open on a high descriptor of its own, close-on-exec, so
// the shell that runs a script cannot simply list itself); the "true" keeps
// it from replacing itself with ls, whose directory handle would count.
std::string ListShellDescriptors(const std::string& file) {
  return "sh -c 'ls /proc/$$/fd; true' > " + file;
}

class DescriptorHygiene : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ("", Joined(LeftoverProcesses(box_)));
    EXPECT_EQ("", Joined(TemporaryLogFiles(box_)));
  }
  Sandbox box_;
};

TEST_F(DescriptorHygiene, DebugCommandsAndNativePluginsInheritOnlyTheStandardStreams) {
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf",
                 "fds:none:fds-done:" + ListShellDescriptors(box_.Path("/debug.fds")) + "\n");
  // The native plugin lists its own descriptors, leaving out the handle of
  // the directory it reads them from.
  box_.WriteFile("/fds.c",
                 "#include <bootcrank/native_plugin.h>\n#include <dirent.h>\n"
                 "#include <stdio.h>\n#include <stdlib.h>\n"
                 "static int Start(void) {\n"
                 "  DIR *d = opendir(\"/proc/self/fd\");\n"
                 "  FILE *out = fopen(\"" + box_.Path("/native.fds") + "\", \"we\");\n"
                 "  if (!d || !out) return 1;\n"
                 "  struct dirent *e;\n"
                 "  while ((e = readdir(d)) != NULL) {\n"
                 "    if (e->d_name[0] == '.') continue;\n"
                 "    int fd = atoi(e->d_name);\n"
                 "    if (fd != dirfd(d) && fd != fileno(out)) fprintf(out, \"%d\\n\", fd);\n"
                 "  }\n"
                 "  closedir(d);\n"
                 "  return fclose(out) != 0;\n"
                 "}\n"
                 "static int Apply(void) { return 0; }\n"
                 "const struct bootcrank_metadata metadata = {.version = 1};\n"
                 "const struct bootcrank_operations operations = {Start, Apply};\n");
  ASSERT_EQ(0, Shell("cc -shared -fPIC -I'" BOOTCRANK_SOURCE_DIR "/include' -o '" +
                     box_.PluginDir() + "/fds.so' '" + box_.Path("/fds.c") + "'"));
  // A JSON plugin too, so that the executor process and its socket exist
  // while the others run.
  box_.WriteFile("/usr/libexec/bootcrank/plugins/json.json",
                 "{\"metadata\": {\"version\": 1, \"requires\": [], \"provides\": []},"
                 " \"operations\": {\"start\": [\"file write --path=/json --content=1\"]}}\n");

  for (const char* mode : {"", "--parallel"}) {
    SCOPED_TRACE(mode);
    box_.Remove("/debug.fds");
    box_.Remove("/native.fds");
    RunResult run = box_.Run(*mode ? std::vector<std::string>{mode} : std::vector<std::string>{});
    EXPECT_EQ(0, run.status) << run.out << run.err;
    EXPECT_EQ("0\n1\n2\n", box_.ReadFile("/debug.fds"));
    EXPECT_EQ("0\n1\n2\n", box_.ReadFile("/native.fds"));
    EXPECT_EQ("1", box_.ReadFile("/json"));
  }
}

TEST_F(DescriptorHygiene, InitScriptsInheritOnlyTheStandardStreams) {
  box_.WriteFile("/etc/init.d/fds",
                 "#!/bin/sh\n" + ListShellDescriptors(box_.Path("/script.$1.fds")) + "\n", 0755);
  box_.WriteFile("/listing", box_.Path("/etc/init.d/fds") + " 10\n");
  box_.WriteFile("/bin/chkconfig",
                 "#!/bin/sh\n[ \"$1\" = -p ] && cat " + box_.Path("/listing") + "\n", 0755);
  for (const char* method : {"start", "stop"}) {
    SCOPED_TRACE(method);
    RunResult run = box_.Run({"--daemon", std::string("--method=") + method});
    EXPECT_EQ(0, run.status) << run.out << run.err;
    EXPECT_EQ("0\n1\n2\n", box_.ReadFile(std::string("/script.") + method + ".fds")) << run.out;
  }
}

TEST_F(DescriptorHygiene, TroubleshootingShellInheritsOnlyTheStandardStreams) {
  box_.WriteFile("/etc/quarro/bootcrank/debug.conf", "a:none:a-done:true\n");
  std::vector<std::string> argv = {box_.Program(), "--interactive"};
  PtySession session(ExecBody(box_.Program(), argv, box_.Environment()));
  ASSERT_TRUE(session.WaitFor("current plugin: \033[36ma\n")) << session.Output();
  ASSERT_TRUE(session.WaitForSettings([](const struct termios& t) {
    return (t.c_lflag & (ICANON | ECHO)) == 0;
  }));
  session.Send("t");
  ASSERT_TRUE(session.WaitFor("(t)roubleshoot")) << session.Output();
  // The shell runs before the plugin; once it exits, the plugin runs and
  // the run ends.
  session.Send(ListShellDescriptors(box_.Path("/shell.fds")) + "\nexit\n");
  EXPECT_EQ(0, session.Finish()) << session.Output();
  EXPECT_EQ("0\n1\n2\n", box_.ReadFile("/shell.fds"));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
