// The HTML report in headless Chromium: what the page shows (the DOM after
// its script ran), the console, and a screenshot (tests/artifacts/report.png,
// kept with the page, report.html, and the same boot's timeline.svg).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::NodeRow;
using testing::Output;
using testing::RecordJson;
using testing::ScratchDir;

const char kChromium[] = "/usr/bin/chromium";

// Chromium with a profile of its own, without network or first-run
// behaviour, its console on standard error.
Output Browse(const std::vector<std::string>& extra, const std::string& page) {
  ScratchDir profile;
  std::vector<std::string> argv = {kChromium, "--user-data-dir=" + profile.path};
  argv.insert(argv.end(),
              {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync",
               "--enable-logging=stderr", "--v=0"});
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back("file://" + page);
  bootcrank::testing::Started browser(argv, nullptr);
  Output o = browser.Wait(90);
  kill(-browser.Pid(), SIGKILL);  // helpers it left behind
  return o;
}

std::vector<std::string> Console(const std::string& err) {
  std::vector<std::string> lines;
  std::regex console(":CONSOLE[:(][^\\]]*\\] (.*)");
  std::smatch m;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, m, console)) lines.push_back(m[1]);
  return lines;
}

class ReportBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kChromium, X_OK) != 0)
      GTEST_SKIP() << kChromium << " is not installed (scripts/install-deps)";
  }
  ScratchDir dir;
};

// The check of the console is itself checked: a page with errors shows them.
TEST_F(ReportBrowserTest, ConsoleErrorsOfAPageAreSeen) {
  std::string page =
      dir.Write("broken.html",
                "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title></head><body>"
                "<script>console.error('canary'); missingFunction();</script></body></html>");
  Output o = Browse({"--dump-dom"}, page);
  ASSERT_EQ(o.status, 0) << o.err;
  std::vector<std::string> console = Console(o.err);
  ASSERT_EQ(console.size(), 2u) << o.err;
  EXPECT_NE(console[0].find("canary"), std::string::npos);
  EXPECT_NE(console[1].find("missingFunction is not defined"), std::string::npos);
}

TEST_F(ReportBrowserTest, ShowsTimelineBlameChainAndGraphWithoutConsoleErrors) {
  NodeRow failed{"network", {"storage-ready"}, 20, 25, 60, 1};
  failed.result = "failed";
  std::string record =
      dir.Write("boot.json", RecordJson({{"storage", {}, 0, 0, 20, 0},
                                         failed,
                                         {"ntp", {"network-ready"}, 60, 60, 90, 0},
                                         {"webui", {"storage-ready"}, 20, 20, 45, 0},
                                         {"firstboot", {}}},
                                        {{"storage-ready", {"storage"}, 20, 20, 20, 0},
                                         {"network-ready", {"network"}, 60, 60, 60, 1}},
                                        2, 95)
                                 .dump());
  std::string page = dir.path + "/report.html";
  Output made = testing::Analyze({"report", "-o", page, record});
  ASSERT_EQ(made.status, 0) << made.err;
  std::string html = testing::Slurp(page);
  // Self-contained: no reference leaves the page.
  std::regex reference("(src|href)=\"(?!#|data:)[^\"]*\"");
  EXPECT_FALSE(std::regex_search(html, reference));
  EXPECT_EQ(html.find("<link rel=\"stylesheet\""), std::string::npos);

  Output dom = Browse({"--dump-dom"}, page);
  ASSERT_EQ(dom.status, 0) << dom.err;
  EXPECT_EQ(Console(dom.err), std::vector<std::string>{}) << dom.err;
  const std::string& shown = dom.out;
  EXPECT_NE(shown.find("<h1>bootcrank boot of h1</h1>"), std::string::npos);
  EXPECT_NE(shown.find("4 plugins ran, 1 failed, 1 did not run"), std::string::npos);
  // Blame rows: longest first, the failure marked.
  std::regex blame(
      "<tr data-node=\"1\" class=\"failed\"><td class=\"num\">35.0ms</td><td>failed</td>"
      "<td>json</td><td>network</td>[\\s\\S]*<tr data-node=\"2\"><td class=\"num\">30.0ms</td>"
      "<td>succeeded</td><td>json</td><td>ntp</td>[\\s\\S]*<tr data-node=\"3\"><td class=\"num\">"
      "25.0ms</td><td>succeeded</td><td>json</td><td>webui</td>[\\s\\S]*"
      "<tr data-node=\"4\"><td class=\"num\">-</td><td>skipped</td>");
  EXPECT_TRUE(std::regex_search(shown, blame)) << shown;
  // The chain: storage, its barrier, network (5 ms waiting for a worker), its barrier, ntp.
  size_t chain = shown.find("<section id=\"chain\">");
  ASSERT_NE(chain, std::string::npos);
  std::regex links(
      "<td>storage</td>[\\s\\S]*<td>storage-ready</td>[\\s\\S]*<td>network</td><td>json</td>"
      "<td class=\"num\">\\+20\\.0ms</td><td class=\"num\">0us</td><td class=\"num\">5\\.0ms</td>"
      "<td class=\"num\">35\\.0ms</td>[\\s\\S]*<td>network-ready</td>[\\s\\S]*<td>ntp</td>");
  EXPECT_TRUE(
      std::regex_search(shown.substr(chain, shown.find("</section>", chain) - chain), links));
  // Timeline and graph are there, with a group per node.
  for (const char* text : {"<section id=\"timeline\">", "<section id=\"graph\">",
                           "Point at a plugin or barrier for its details."})
    EXPECT_NE(shown.find(text), std::string::npos) << text;

  const std::string artifacts = BOOTCRANK_ARTIFACTS, png = artifacts + "/report.png";
  mkdir(artifacts.c_str(), 0755);
  unlink(png.c_str());
  Output shot =
      Browse({"--screenshot=" + png, "--window-size=1300,1600", "--hide-scrollbars"}, page);
  ASSERT_EQ(shot.status, 0) << shot.err;
  EXPECT_EQ(Console(shot.err), std::vector<std::string>{}) << shot.err;
  std::string image = testing::Slurp(png);
  EXPECT_GT(image.size(), 10000u) << shot.err;
  EXPECT_EQ(image.substr(1, 3), "PNG");
  // The page and the same boot's timeline stay beside the screenshot.
  std::ofstream(artifacts + "/report.html", std::ios::binary) << html;
  EXPECT_EQ(testing::Analyze({"plot", "-o", artifacts + "/timeline.svg", record}).status, 0);
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
