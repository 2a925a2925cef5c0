// The dot dump of the dependency graph: node and edge lines, document order,
// and the file handling.

#include "graph/dependency_dump.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graph/barrier.h"
#include "gtest/gtest.h"
#include "plugins/plugin.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

// Graph nodes are never deleted (the graph keeps plain pointers to them), so
// the tests allocate them and leave them to the process.
class StubbornPlugin : public Plugin {
 public:
  explicit StubbornPlugin(const std::string& name) : Plugin(name) {}
  void Start() override {}
  bool UsesHostProfile() override { return false; }
  void ApplyHostProfile() override {}
};

std::string Id(const Node* node) {
  return std::to_string(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(node)));
}

std::string Dump(Node* node) {
  std::ostringstream out;
  DumpNode(node, out);
  return out.str();
}

std::string ReadFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == line) return i;
  }
  return lines.size();
}

class DependencyDump : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bc-dump-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { ASSERT_EQ(testing::Shell("rm -rf '" + dir_ + "'"), 0); }
  std::string dir_;
};

TEST_F(DependencyDump, PluginLineIsFollowedByItsEdgeAndTheBarrierIsABox) {
  auto* provider = new StubbornPlugin("dump-provider");
  InitBarrier* barrier = GetBarrier("dump-provided", true);
  provider->AddDependent(barrier);  // provides: the barrier waits for it
  std::string p = Id(provider), b = Id(barrier);
  EXPECT_EQ(Dump(provider), p + " [label=\"dump-provider\"];\n" + p + " -> " + b + ";\n");
  EXPECT_EQ(Dump(barrier), b + " [label=\"dump-provided\" shape=box];\n");
}

TEST_F(DependencyDump, PriorityBarrierIsATrapezium) {
  PriorityBarrier* barrier = GetPriorityBarrier(4711);
  std::vector<std::string> lines = Lines(Dump(barrier));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], Id(barrier) + " [label=\"_<->_priority_<->_4711\" shape=trapezium];");
}

TEST_F(DependencyDump, SharedBarrierIsOneNodeWithAnEdgeFromEachProviderAndToItsUser) {
  auto* first = new StubbornPlugin("dump-first");
  auto* second = new StubbornPlugin("dump-second");
  auto* user = new StubbornPlugin("dump-user");
  // Barriers outlive the test; a repeated run needs fresh ones.
  static int run = 0;
  std::string suffix = std::to_string(++run);
  InitBarrier* shared = GetBarrier("dump-shared" + suffix, true);
  first->AddDependent(shared);
  second->AddDependent(shared);
  user->AddDependency(shared);
  InitBarrier* early = GetBarrier("dump-a-early" + suffix, true);  // sorts first
  user->AddDependency(early);

  std::string path = dir_ + "/graph.dot";
  ASSERT_TRUE(DumpDependencyTree({user, first, second}, &path));
  std::string text = ReadFile(path);
  std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "digraph g {");
  EXPECT_EQ(lines.back(), "}");

  std::string s = Id(shared);
  std::string sharedNode = s + " [label=\"dump-shared" + suffix + "\" shape=box];";
  size_t count = 0;
  for (const std::string& line : lines) count += line == sharedNode ? 1 : 0;
  EXPECT_EQ(count, 1u) << text;
  // Plugins in run-list order, each followed by its own edges.
  size_t userLine = IndexOf(lines, Id(user) + " [label=\"dump-user\"];");
  size_t firstLine = IndexOf(lines, Id(first) + " [label=\"dump-first\"];");
  size_t secondLine = IndexOf(lines, Id(second) + " [label=\"dump-second\"];");
  EXPECT_EQ(userLine, 1u) << text;
  EXPECT_EQ(firstLine, 2u) << text;
  EXPECT_EQ(lines.at(3), Id(first) + " -> " + s + ";") << text;
  EXPECT_EQ(secondLine, 4u) << text;
  EXPECT_EQ(lines.at(5), Id(second) + " -> " + s + ";") << text;
  // Barriers after the plugins, in name order, with their outgoing edges.
  size_t earlyLine = IndexOf(lines, Id(early) + " [label=\"dump-a-early" + suffix + "\" shape=box];");
  size_t sharedLine = IndexOf(lines, sharedNode);
  ASSERT_LT(earlyLine, sharedLine) << text;
  EXPECT_GT(earlyLine, secondLine) << text;
  EXPECT_EQ(lines.at(sharedLine + 1), s + " -> " + Id(user) + ";") << text;

  EXPECT_EQ(testing::Shell("dot -Tsvg '" + path + "' -o /dev/null"), 0) << text;
}

TEST_F(DependencyDump, ExistingFileIsTruncated) {
  std::string path = dir_ + "/graph.dot";
  std::ofstream(path) << std::string(100000, 'x');
  ASSERT_TRUE(DumpDependencyTree({}, &path));
  std::string text = ReadFile(path);
  EXPECT_EQ(text.substr(0, 12), "digraph g {\n");
  EXPECT_EQ(text.find('x' + std::string(10, 'x')), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "}\n");
}

TEST_F(DependencyDump, UnopenablePathFailsAndCreatesNothing) {
  std::string path = dir_ + "/missing/graph.dot";
  EXPECT_FALSE(DumpDependencyTree({}, &path));
  struct stat st;
  EXPECT_NE(stat((dir_ + "/missing").c_str(), &st), 0);
}

// Barriers live for the whole process, so the empty graph needs a process
// in which no test has made one yet: this test runs itself again, alone.
TEST_F(DependencyDump, EmptyRunListWithoutBarriersIsTwoLines) {
  const char* fresh = getenv("BOOTCRANK_TEST_FRESH_DUMP");
  if (fresh != nullptr) {
    ASSERT_TRUE(AllBarriers().empty());
    std::string path = fresh;
    ASSERT_TRUE(DumpDependencyTree({}, &path));
    return;
  }
  std::string path = dir_ + "/empty.dot";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("BOOTCRANK_TEST_FRESH_DUMP", path.c_str(), 1);
    (void)!freopen("/dev/null", "w", stdout);
    execl("/proc/self/exe", "graph_tests",
          "--gtest_filter=DependencyDump.EmptyRunListWithoutBarriersIsTwoLines",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile(path), "digraph g {\n}\n");
}

}  // namespace
}  // namespace bootcrank
