// The framework's dispatcher with the core extension and the probe module,
// in the test process: loading rules and the core commands' effects.
#include <sys/stat.h>

#include "cli/autocli_dispatcher.h"
#include "cli/autocli_option_parser.h"
#include "cli/executor_root.h"

namespace bootcrank {
namespace testing {
namespace {

using Toolbelt::AutoCli::CommandInput;
using Toolbelt::AutoCli::CommandOutput;
using Toolbelt::AutoCli::Dispatcher;
using Errors = std::vector<std::string>;

class CoreExtensionTest : public ExecutorTest {
 protected:
  // Parses and runs `line` on `dispatcher`; the errors it reported.
  static Errors Run(Dispatcher& dispatcher, const std::string& line) {
    Toolbelt::AutoCli::OptionParser parser;
    EXPECT_FALSE(parser.ParseString(line)) << line;
    EXPECT_TRUE(parser.GetParseErrors().empty()) << line;
    auto input = CommandInput::New();
    auto output = CommandOutput::New();
    input->SetCommandPath(parser.GetCommandPath());
    for (const auto& p : parser.GetCommandParameters()) input->AddParameter(p.first, p.second);
    dispatcher.ExecuteCommand(input, output);
    return output->GetErrors();
  }
  Errors Run(const std::string& line) {
    if (!core_) {
      core_.reset(new Dispatcher);
      core_->AddExternalDirectory(root_ + ExtensionDirectories()[0]);
    }
    return Run(*core_, line);
  }
  std::string Read(const std::string& hostPath) const { return ReadWhole(root_ + hostPath); }

  std::unique_ptr<Dispatcher> core_;
};

TEST_F(CoreExtensionTest, FileWriteCreatesOrTruncatesBelowTheRoot) {
  MakeTree(root_ + "/etc");
  EXPECT_EQ(Errors{}, Run("file write --path=/etc/motd --content='first line\\nlonger'"));
  EXPECT_EQ("first line\\nlonger", Read("/etc/motd"));
  struct stat st;
  ASSERT_EQ(0, stat((root_ + "/etc/motd").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 07777);

  EXPECT_EQ(Errors{}, Run("file write --path=/etc/motd --content=short"));
  EXPECT_EQ("short", Read("/etc/motd"));
  EXPECT_EQ(Errors{}, Run("file write --path=/etc/motd --content ''"));
  EXPECT_EQ("", Read("/etc/motd"));
}

TEST_F(CoreExtensionTest, FileAppendCreatesThenAppends) {
  EXPECT_EQ(Errors{}, Run("file append --path=/var/log/notes --content=one"));
  EXPECT_EQ(Errors{}, Run("file append --path=/var/log/notes --content=' two'"));
  EXPECT_EQ("one two", Read("/var/log/notes"));
}

TEST_F(CoreExtensionTest, FileFailuresCarryTheSystemError) {
  EXPECT_EQ(Errors{"cannot open " + root_ + "/missing/f: No such file or directory"},
            Run("file write --path=/missing/f --content=x"));
  EXPECT_EQ(Errors{"cannot open " + root_ + "/var/log: Is a directory"},
            Run("file append --path=/var/log --content=x"));
  EXPECT_EQ(Errors{"path is not absolute: relative/f"},
            Run("file write --path=relative/f --content=x"));
  EXPECT_EQ(Errors{"Missing parameter --content for command 'file write'"},
            Run("file write --path=/f"));
  EXPECT_EQ(Errors{"Unknown parameter --mode for command 'file append'"},
            Run("file append --path=/f --content=x --mode=0600"));
}

TEST_F(CoreExtensionTest, SysctlSetWritesBelowProcSys) {
  MakeTree(root_ + "/proc/sys/net/ipv4");
  ASSERT_EQ(0, Shell("echo 0 > '" + root_ + "/proc/sys/net/ipv4/ip_forward'"));
  EXPECT_EQ(Errors{}, Run("sysctl set --key=net.ipv4.ip_forward --value=1"));
  EXPECT_EQ("1", Read("/proc/sys/net/ipv4/ip_forward"));
  EXPECT_EQ(Errors{}, Run("sysctl set --key=net/ipv4/ip_forward --value=2"));
  EXPECT_EQ("2", Read("/proc/sys/net/ipv4/ip_forward"));

  // Keys that do not exist are not created.
  EXPECT_EQ(Errors{"cannot open " + root_ + "/proc/sys/net/ipv4/nothing: No such file or directory"},
            Run("sysctl set --key=net.ipv4.nothing --value=1"));
  for (const std::string key : {"", ".net", "net..ipv4", "net.ipv4."}) {
    EXPECT_EQ(Errors{"invalid sysctl key '" + key + "'"},
              Run("sysctl set --key='" + key + "' --value=1"));
  }
}

TEST_F(CoreExtensionTest, ModulesLoadInNameOrderAndTheFirstRegistrationWins) {
  const std::string dir = root_ + "/ext";
  InstallModule("hvcli_probe.so", "/ext", "b.so");
  InstallModule("hvcli_probe.so", "/ext", "a.so");
  InstallModule("hvcli_core.so", "/ext", "c.so");
  ASSERT_EQ(0, Shell("echo not an object > '" + dir + "/0-broken.so'"));
  ASSERT_EQ(0, Shell("mkdir '" + dir + "/d.so' && touch '" + dir + "/notes.txt'"));

  LogCapture log;
  Dispatcher dispatcher;
  dispatcher.AddExternalDirectory(dir);
  EXPECT_EQ((std::vector<std::string>{dir + "/a.so", dir + "/b.so"}), ProbeLines());
  EXPECT_EQ((std::vector<std::string>{"file append", "file write", "probe echo", "probe fail",
                                      "probe ok", "sysctl set"}),
            dispatcher.GetCommandPaths());
  std::vector<std::string> warnings = log.Messages("warning");
  ASSERT_EQ(1u, warnings.size());
  EXPECT_EQ(0u, warnings[0].find("unable to load CLI extension " + dir + "/0-broken.so: "))
      << warnings[0];
  EXPECT_EQ(Errors{}, Run(dispatcher, "probe ok"));
  EXPECT_EQ(Errors{"Unknown command or namespace: file"}, Run(dispatcher, "file"));
}

TEST_F(CoreExtensionTest, DirectoryThatCannotBeOpenedThrows) {
  Dispatcher dispatcher;
  try {
    dispatcher.AddExternalDirectory(root_ + "/nowhere");
    ADD_FAILURE() << "a missing directory must throw";
  } catch (const std::exception& e) {
    EXPECT_EQ("cannot open CLI extension directory " + root_ + "/nowhere: No such file or directory",
              std::string(e.what()));
  }
  EXPECT_TRUE(dispatcher.GetCommandPaths().empty());
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
