// The plugin kinds in one real boot run of the installed program: JSON
// commands through the executor process and the core CLI extension, native
// plugins through nativeExecutor, debug injections and the init script of
// --init through the shell. What it starts sees only descriptors 0, 1 and 2
// (the daemon-mode scripts and the troubleshooting shell are checked by
// their own tests).
#include <gtest/gtest.h>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

TEST(PluginKindsEndToEnd, EveryKindRunsInBarrierOrderWithOnlyTheStandardStreams) {
  Sandbox box;
  box.WriteFile("/usr/libexec/bootcrank/plugins/cmds.json",
                Descriptor("", "", "\"file append --path=/var/run/quarro/order --content=1\", "
                                   "\"file append --path=/no/such/dir/x --content=2\", "
                                   "\"file append --path=/var/run/quarro/order --content=3\""));
  ASSERT_EQ(Shell("cp '" BOOTCRANK_BINARY_DIR "/examples/native/libbootmark.so' '" + box.PluginDir() + "/'"), 0);
  // Two injections wait for the native plugin's barrier.
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                "after:bootmark-ready:after-done:test -f '" + box.Path("/var/run/quarro/bootmark.started") +
                    "' && touch '" + box.Path("/var/run/quarro/after") + "'\nfailing:bootmark-ready:x:exit 3\n"
                "fds:none:fds-done:" + ListDescriptors(box.Path("/debug.fds")) + "\n");
  box.WriteFile("/etc/init.d/evtd", "#!/bin/sh\n" + ListDescriptors(box.Path("/script.fds")) + "\n", 0755);
  // This one leaves out the directory handle it lists through.
  ASSERT_EQ(0, CompileNativePlugin(box, "fds",
                                   "  DIR *d = opendir(\"/proc/self/fd\");\n"
                                   "  FILE *out = fopen(\"" + box.Path("/native.fds") + "\", \"we\");\n"
                                   "  if (!d || !out) return 1;\n"
                                   "  for (struct dirent *e; (e = readdir(d)) != NULL;) {\n"
                                   "    int fd = atoi(e->d_name);\n"
                                   "    if (e->d_name[0] != '.' && fd != dirfd(d) && fd != fileno(out))\n"
                                   "      fprintf(out, \"%d\\n\", fd);\n"
                                   "  }\n"
                                   "  closedir(d);\n"
                                   "  return fclose(out) != 0;"));
  RunResult run = box.Run({"--init", "--parallel"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // A failed command does not end its plugin's list.
  EXPECT_EQ(box.ReadFile("/var/run/quarro/order"), "13");
  EXPECT_NE(run.out.find("cmds->start() failed: error while executing the cli"), std::string::npos) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "info", "Launching Executor")) << run.out;
  std::string log = box.ReadFile("/var/log/bootcrank-hvcli-stdout.log");
  EXPECT_EQ(Messages(log, "info"), (std::vector<std::string>{"Executor Reset - polling for commands",
                                                           "Bootcrank executor signalled to stop"})) << log;
  EXPECT_TRUE(box.Exists("/var/run/quarro/after")) << run.out;
  EXPECT_TRUE(HasRecord(run.out, "info", "debug injection 'failing' returned 0x000300")) << run.out;
  for (const char* file : {"/debug.fds", "/native.fds", "/script.fds"}) {
    EXPECT_EQ("0\n1\n2\n", box.ReadFile(file)) << file;
  }
  EXPECT_EQ("", Leftovers(box));

  // Invoke mode runs the native plugin's second slot.
  run = box.Run({"--invoke", "--method=apply_host_profile", "--plugin=libbootmark.so"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(box.Exists("/var/run/quarro/bootmark.hostprofile")) << run.out << run.err;
  // Extensions are loaded into the executor program, which exports the magic.
  EXPECT_EQ(0, Shell("nm -D --defined-only '" + box.Path("/usr/lib/quarro/bootcrank/hvcliExecutor") +
                     "' | grep -q ' D __hvclic_magic$'"));
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
