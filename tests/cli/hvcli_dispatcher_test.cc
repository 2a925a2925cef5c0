// The dispatcher inside a real executor process: extension directories,
// parse and execution errors as the executor logs them.
#include "cli/executor_root.h"

namespace bootcrank {
namespace testing {
namespace {

class HvcliDispatcherTest : public ExecutorTest {
 protected:
  void SetUp() override {
    ExecutorTest::SetUp();
    // A probe in every directory records each directory's loading.
    for (size_t i = 1; i < ExtensionDirectories().size(); ++i) {
      InstallModule("hvcli_probe.so", ExtensionDirectories()[i]);
    }
  }

  // Runs `line` through the executor; true when it succeeded.
  bool Run(const std::string& line) {
    try {
      HvcliExecutor::Instance().Execute(line);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  std::vector<std::string> ProbesOf(const std::vector<std::string>& directories) const {
    std::vector<std::string> paths;
    for (const std::string& d : directories) paths.push_back(root_ + d + "/hvcli_probe.so");
    return paths;
  }
};

TEST_F(HvcliDispatcherTest, RegistersTheFourDirectoriesOnceInOrderOnTheFirstExecutedCommand) {
  HvcliExecutor::Instance().Reset();
  // Lines that end before execution build no dispatcher.
  EXPECT_TRUE(Run(""));
  EXPECT_TRUE(Run("probe fail --help"));
  EXPECT_FALSE(Run("probe 'unterminated"));
  EXPECT_TRUE(ProbeLines().empty());

  EXPECT_TRUE(Run("probe ok"));
  EXPECT_EQ(ProbesOf(ExtensionDirectories()), ProbeLines());
  EXPECT_FALSE(Run("no such command"));
  EXPECT_TRUE(Run("probe ok"));
  EXPECT_EQ(ProbesOf(ExtensionDirectories()), ProbeLines());
}

TEST_F(HvcliDispatcherTest, DirectoryThatCannotBeAddedIsLoggedAndSkipped) {
  const std::string missing = root_ + ExtensionDirectories()[2];
  ASSERT_EQ(0, Shell("rm -rf '" + missing + "'"));
  HvcliExecutor::Instance().Reset();
  EXPECT_TRUE(Run("probe ok"));
  EXPECT_EQ(ProbesOf({ExtensionDirectories()[0], ExtensionDirectories()[1],
                      ExtensionDirectories()[3]}),
            ProbeLines());
  EXPECT_EQ(std::vector<std::string>{"unable to add external directory to the hvcli "
                                     "dispatcher: cannot open CLI extension directory " +
                                     missing + ": No such file or directory"},
            ExecutorMessages("error"));
}

TEST_F(HvcliDispatcherTest, LogsEachParseErrorOnceAndFails) {
  HvcliExecutor::Instance().Reset();
  EXPECT_FALSE(Run("probe ok --a=1 stray --=2"));
  EXPECT_EQ((std::vector<std::string>{
                "Executor was unable to parse command: Unexpected argument 'stray' after the "
                "options",
                "Executor was unable to parse command: Option without a name: '--=2'"}),
            ExecutorMessages("error"));
}

TEST_F(HvcliDispatcherTest, LogsEachExecutionErrorWithTheCommandLine) {
  HvcliExecutor::Instance().Reset();
  const std::string line = "probe fail --first=A --second 'B b'";
  EXPECT_FALSE(Run(line));
  EXPECT_EQ((std::vector<std::string>{"execution of '" + line + "' failed : A",
                                      "execution of '" + line + "' failed : B b"}),
            ExecutorMessages("error"));
}

TEST_F(HvcliDispatcherTest, UnknownCommandsAndParametersFail) {
  HvcliExecutor::Instance().Reset();
  EXPECT_FALSE(Run("probe"));
  EXPECT_FALSE(Run("frobnicate all now"));
  EXPECT_FALSE(Run("probe ok --extra=1"));
  EXPECT_FALSE(Run("probe fail --first=A"));
  EXPECT_EQ((std::vector<std::string>{
                "execution of 'probe' failed : Unknown command or namespace: probe",
                "execution of 'frobnicate all now' failed : Unknown command or namespace: "
                "frobnicate all now",
                "execution of 'probe ok --extra=1' failed : Unknown parameter --extra for "
                "command 'probe ok'",
                "execution of 'probe fail --first=A' failed : Missing parameter --second for "
                "command 'probe fail'"}),
            ExecutorMessages("error"));
  EXPECT_TRUE(Run("probe ok"));  // the executor goes on serving
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
