// What the commands print: tables, durations, SVG timeline and graph, trace.
#include <gtest/gtest.h>

#include <sstream>

#include "analyze/chrome_trace.h"
#include "analyze/graph_svg.h"
#include "analyze/svg_plot.h"
#include "analyze/table.h"
#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::Parse;
using testing::RecordJson;

TEST(TableTest, AlignsByDisplayWidthAndColoursTheTextNotThePadding) {
  Table t({{"NAME"}, {"TIME", true}, {"NOTE"}});
  t.AddRow({"a", "1.0ms", "x"});
  t.AddRow({"größer", "12.5ms", ""});
  t.AddRow({{"failed", colour::kRed}, "", "last"});
  for (bool colour : {false, true}) {
    std::ostringstream out;
    t.Print(out, colour);
    EXPECT_EQ(
        out.str(),
        colour ? "\033[1mNAME\033[0m      \033[1mTIME\033[0m  \033[1mNOTE\033[0m\n"
                 "a        1.0ms  x\ngrößer  12.5ms\n\033[31mfailed\033[0m          last\n"
               : "NAME      TIME  NOTE\na        1.0ms  x\ngrößer  12.5ms\nfailed          last\n");
  }
}

TEST(FormatTest, Durations) {
  const std::pair<Micros, const char*> cases[] = {
      {0, "0us"},          {999, "999us"},      {1000, "1.0ms"},       {1250, "1.2ms"},
      {999999, "999.9ms"}, {1000000, "1.000s"}, {61234567, "61.234s"}, {-1500, "-1.5ms"},
      {kNoTime, "-"}};
  for (const auto& c : cases) EXPECT_EQ(FormatDuration(c.first), c.second) << c.first;
  EXPECT_EQ(FormatOffset(2500000), "+2.500s");
  EXPECT_EQ(FormatOffset(-20), "-20us");
}

BootRecord Sample() {
  testing::NodeRow bad{"<fail&>", {"gate"}, 10, 12, 30, 1};
  bad.result = "failed";
  return Parse(RecordJson({{"storage", {}, 0, 0, 10, 0}, bad, {"skipped-one", {}}},
                          {{"gate", {"storage"}, 10, 10, 10, 0}}, 2, 40));
}

TEST(SvgPlotTest, RowsLanesAndEscapedNames) {
  BootRecord r = Sample();
  BootGraph g(r);
  CriticalChain chain = ChainToEnd(g);
  PlotOptions o;
  o.chain = &chain;
  std::string svg = RenderTimelineSvg(g, o);
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  EXPECT_EQ(svg.find("<fail&>"), std::string::npos);
  for (const char* text :
       {"<svg xmlns=\"http://www.w3.org/2000/svg\"", "&lt;fail&amp;&gt;", ">worker 1</text>",
        ">kernel 12.000s</text>", ">Did not run</text>", kFailedColour, ">critical chain</text>"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  // Every element that opens closes: as many <g> as </g>.
  size_t opened = 0, closed = 0;
  for (size_t at = svg.find("<g"); at != std::string::npos; at = svg.find("<g", at + 1))
    opened += svg[at + 2] == ' ' || svg[at + 2] == '>';
  for (size_t at = svg.find("</g>"); at != std::string::npos; at = svg.find("</g>", at + 1))
    ++closed;
  EXPECT_EQ(opened, closed);
}

TEST(SvgPlotTest, ProfilingLogLanesAreInferredAndSaidSo) {
  BootRecord r = ParseBootRecord(
      "HVKernel Initialization Time: 1000000\n"
      "[2025-12-06 05:46:40.100000 - 2025-12-06 05:46:40.300000] sysboot: a\n"
      "[2025-12-06 05:46:40.150000 - 2025-12-06 05:46:40.200000] sysboot: b\n"
      "[2025-12-06 05:46:40.250000 - 2025-12-06 05:46:40.400000] sysboot: c\n"
      "=== Bootcrank configuration info ===\n Start: 2025-12-06 05:46:40.000000\n End: 2025-12-06 "
      "05:46:40.500000\n",
      "sysboot.log");
  BootGraph g(r);
  std::string svg = RenderTimelineSvg(g, PlotOptions());
  EXPECT_NE(svg.find("Lanes (inferred from overlaps"), std::string::npos);
  EXPECT_NE(svg.find(">lane 1</text>"), std::string::npos);  // b overlaps a; c fits lane 1 after b
  EXPECT_EQ(svg.find(">lane 2</text>"), std::string::npos);
}

TEST(ChromeTraceTest, OneTrackPerWorkerAndACompleteEventPerNode) {
  BootRecord r = Sample();
  BootGraph g(r);
  nlohmann::json trace = ChromeTrace(g);
  std::map<std::string, int> threads;
  int complete = 0;
  for (const auto& e : trace["traceEvents"]) {
    if (e["ph"] == "M" && e["name"] == "thread_name") threads[e["args"]["name"]] = e["tid"];
    if (e["ph"] != "X") continue;
    ++complete;
    EXPECT_GE(e["ts"].get<int64_t>(), 0);
    if (e["name"] == "<fail&>") {
      EXPECT_EQ(e["tid"], 1);
      EXPECT_EQ(e["ts"], 12000000 + 12000);  // from the kernel's start: 12 s uptime, then 12 ms
      EXPECT_EQ(e["dur"], 18000);
      EXPECT_EQ(e["args"]["worker_wait"], 2000);
      EXPECT_EQ(e["args"]["result"], "failed");
    }
  }
  EXPECT_EQ(complete, 4);  // storage, gate, <fail&>, and the kernel
  EXPECT_EQ(threads,
            (std::map<std::string, int>{{"worker 0", 0}, {"worker 1", 1}, {"kernel", 1000}}));
}

TEST(GraphSvgTest, ColumnsFollowTheLongestDependencyChain) {
  BootRecord r = Sample();
  BootGraph g(r);
  std::string svg = RenderGraphSvg(g, nullptr);
  // storage in column 0, gate in 1, <fail&> in 2: x = 10 + column * 210.
  EXPECT_NE(svg.find("<rect x=\"10\" y=\"10\""), std::string::npos);
  EXPECT_NE(svg.find("<rect x=\"220\""), std::string::npos);
  EXPECT_NE(svg.find("<rect x=\"430\""), std::string::npos);
  EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);  // the plugin that did not run
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
