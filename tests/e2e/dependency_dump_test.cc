// The installed program's dump mode: the graph of a sample boot in the dot
// language, to a file or to standard output, and a path that cannot be
// written.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

using testing::ParseLogRecords;
using testing::RunResult;
using testing::Sandbox;

// Two injections provide "storage" and one requires it; "net" is required
// by nobody.
void WriteSampleBoot(const Sandbox& box) {
  std::string ran = box.Path("/ran");
  box.WriteFile("/etc/quarro/bootcrank/debug.conf",
                "disk one:early:storage:echo disk1 >> " + ran + "\n" +
                "disk-two:early:storage,net:echo disk2 >> " + ran + "\n" +
                "mount:storage:mounted:echo mount >> " + ran + "\n");
}

// The lines of the dot document within the program's standard output.
std::vector<std::string> DocumentLines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "digraph g {") inside = true;
    if (inside) lines.push_back(line);
    if (inside && line == "}") break;
  }
  return lines;
}

bool ParsesAsDot(const Sandbox& box, const std::string& document) {
  box.WriteFile("/check.dot", document);
  return testing::Shell("dot -Tsvg '" + box.Path("/check.dot") + "' -o /dev/null") == 0;
}

TEST(DependencyDumpE2E, SampleBootToAFileIsValidDotAndNothingRuns) {
  Sandbox box;
  WriteSampleBoot(box);
  std::string path = box.Path("/graph.dot");
  RunResult r = box.Run({"--dump-dependency-tree=" + path});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(box.Exists("/ran"));
  std::string document = box.ReadFile("/graph.dot");
  EXPECT_TRUE(ParsesAsDot(box, document)) << document;

  // Plugins first in run-list order, then the barriers in name order.
  std::regex node("^(\\d+) \\[label=\"([^\"]*)\"([^\\]]*)\\];$");
  std::regex edge("^(\\d+) -> (\\d+);$");
  std::vector<std::string> labels;
  std::map<std::string, std::string> idOf;
  std::vector<std::pair<std::string, std::string>> edges;
  std::istringstream in(document);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "digraph g {");
  while (std::getline(in, line) && line != "}") {
    std::smatch m;
    if (std::regex_match(line, m, node)) {
      labels.push_back(m[2].str() + m[3].str());
      idOf[m[2].str()] = m[1].str();
    } else {
      ASSERT_TRUE(std::regex_match(line, m, edge)) << line;
      edges.emplace_back(m[1].str(), m[2].str());
    }
  }
  EXPECT_EQ(line, "}");
  EXPECT_EQ(labels, (std::vector<std::string>{"disk one", "disk-two", "mount",
                                              "early shape=box", "mounted shape=box",
                                              "net shape=box", "storage shape=box"}));
  using Edge = std::pair<std::string, std::string>;
  std::vector<Edge> expected = {
      {idOf["disk one"], idOf["storage"]}, {idOf["disk-two"], idOf["storage"]},
      {idOf["disk-two"], idOf["net"]},     {idOf["mount"], idOf["mounted"]},
      {idOf["early"], idOf["disk one"]},   {idOf["early"], idOf["disk-two"]},
      {idOf["storage"], idOf["mount"]},
  };
  EXPECT_EQ(edges, expected) << document;
}

TEST(DependencyDumpE2E, WithoutAPathTheGraphGoesToStandardOutput) {
  Sandbox empty;
  RunResult r = empty.Run({"--dump-dependency-tree"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(DocumentLines(r.out), (std::vector<std::string>{"digraph g {", "}"})) << r.out;

  Sandbox box;
  WriteSampleBoot(box);
  r = box.Run({"--dump-dependency-tree"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> lines = DocumentLines(r.out);
  ASSERT_EQ(lines.size(), 2u + 7u + 7u) << r.out;  // frame, nodes, edges
  std::string document;
  for (const std::string& line : lines) document += line + "\n";
  EXPECT_TRUE(ParsesAsDot(box, document)) << document;
  EXPECT_FALSE(box.Exists("/ran"));
}

TEST(DependencyDumpE2E, PathInAMissingDirectoryFailsWithoutOutput) {
  Sandbox box;
  WriteSampleBoot(box);
  RunResult r = box.Run({"--dump-dependency-tree=" + box.Path("/missing/graph.dot")});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(box.Exists("/missing"));
  EXPECT_EQ(r.out.find("digraph"), std::string::npos) << r.out;
  for (const auto& record : ParseLogRecords(r.out)) {
    EXPECT_NE(record.tag, "error") << record.message;
    EXPECT_NE(record.tag, "warning") << record.message;
  }
  EXPECT_FALSE(box.Exists("/ran"));
}

}  // namespace
}  // namespace bootcrank
