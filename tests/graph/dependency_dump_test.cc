// The dot dump of the dependency graph.

#include "graph/dependency_dump.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graph/barrier.h"
#include "gtest/gtest.h"
#include "tests/graph/graph_fixtures.h"

namespace bootcrank {
namespace {

using namespace testing;  // NOLINT: the fixtures

std::string Id(const Node* node) { return std::to_string(reinterpret_cast<uintptr_t>(node)); }

// Plugins, plain barriers and priority barriers each have their own shape;
// a barrier provided by two plugins is one node and the target of two edges.
TEST(DependencyDump, NodeAndEdgeLinesOfEveryKind) {
  ScratchHostRoot root;
  RunRecord record;
  auto* first = Keep(new RecordingPlugin(UniqueName("first"), &record));
  auto* second = Keep(new RecordingPlugin(UniqueName("second"), &record));
  auto* user = Keep(new RecordingPlugin(UniqueName("user"), &record));
  InitBarrier* shared = GetBarrier(UniqueName("shared"), true);
  shared->AddDependency(first);
  shared->AddDependency(second);
  user->AddDependency(shared);
  std::string path = root.path + "/graph.dot", s = Id(shared);
  ASSERT_TRUE(DumpDependencyTree({user, first, second}, &path));
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_EQ(text.str().rfind("digraph g {\n" + Id(user) + " [label=\"" + user->Name() + "\"];\n" +
                                 Id(first) + " [label=\"" + first->Name() + "\"];\n" + Id(first) +
                                 " -> " + s + ";\n" + Id(second) + " [label=\"" + second->Name() +
                                 "\"];\n" + Id(second) + " -> " + s + ";\n",
                             0),
            0u)
      << text.str();
  std::string node = "\n" + s + " [label=\"" + shared->Name() + "\" shape=box];\n";
  size_t at = text.str().find(node + s + " -> " + Id(user) + ";\n");
  EXPECT_NE(at, std::string::npos) << text.str();
  EXPECT_EQ(text.str().find(node, at + 1), std::string::npos) << text.str();  // once
  EXPECT_EQ(text.str().substr(text.str().size() - 2), "}\n");

  PriorityBarrier* priority = GetPriorityBarrier(4711);
  std::ostringstream line;
  DumpNode(priority, line);
  EXPECT_EQ(line.str().rfind(Id(priority) + " [label=\"_<->_priority_<->_4711\" shape=trapezium];\n", 0), 0u);
  path = root.path + "/missing/graph.dot";
  EXPECT_FALSE(DumpDependencyTree({}, &path));
}

}  // namespace
}  // namespace bootcrank
