// The installed program's dump mode: the graph of a sample boot in the dot
// language, to a file or to standard output, and a path that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/run_records.h"

namespace bootcrank {
namespace testing {
namespace {

TEST(DependencyDumpE2E, GraphGoesToAFileOrStandardOutputAndNothingRuns) {
  Sandbox box;
  RunResult r = box.Run({"--dump-dependency-tree"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\ndigraph g {\n}\n"), std::string::npos) << r.out;

  std::string ran = box.Path("/ran");
  box.WriteFile("/etc/quarro/bootcrank/debug.conf", "disk one:early:storage:echo 1 >> " + ran +
                "\ndisk-two:early:storage,net:echo 2 >> " + ran + "\nmount:storage:mounted:echo 3 >> " + ran + "\n");
  auto parses = [&](const std::string& path) {
    return Shell("dot -Tsvg '" + box.Path(path) + "' -o /dev/null") == 0;
  };
  r = box.Run({"--dump-dependency-tree=" + box.Path("/graph.dot")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(parses("/graph.dot")) << box.ReadFile("/graph.dot");
  EXPECT_NE(box.ReadFile("/graph.dot").find("[label=\"disk one\"];\n"), std::string::npos);

  r = box.Run({"--dump-dependency-tree"});  // the graph among the log records
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  size_t begin = r.out.find("\ndigraph g {\n"), end = r.out.find("\n}\n", begin);
  ASSERT_NE(end, std::string::npos) << r.out;
  box.WriteFile("/out.dot", r.out.substr(begin + 1, end + 2 - begin));
  EXPECT_TRUE(parses("/out.dot")) << r.out;
  EXPECT_EQ(std::count(r.out.begin() + begin, r.out.begin() + end, '\n'), 15) << r.out;
  EXPECT_FALSE(box.Exists("/ran"));

  r = box.Run({"--dump-dependency-tree=" + box.Path("/missing/graph.dot")});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(box.Exists("/missing"));
  EXPECT_EQ(r.out.find("digraph"), std::string::npos) << r.out;
  EXPECT_TRUE(Messages(r.out, "error").empty() && Messages(r.out, "warning").empty()) << r.out;
}

}  // namespace
}  // namespace testing
}  // namespace bootcrank
