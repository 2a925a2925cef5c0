// Fleet statistics: quantiles, rates, and reading many files on threads.
#include "analyze/fleet.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fixtures.h"

namespace bootcrank {
namespace analyze {
namespace {

using testing::NodeRow;
using testing::RecordJson;
using testing::ScratchDir;

TEST(FleetTest, NearestRankQuantiles) {
  struct Case {
    std::vector<Micros> values;
    double percent;
    Micros want;
  };
  std::vector<Micros> hundred;
  for (Micros i = 100; i >= 1; --i) hundred.push_back(i);  // reversed on purpose
  const Case cases[] = {{{}, 50, kNoTime},    {{7}, 95, 7},          {{1, 2}, 50, 1},
                        {{3, 1, 2}, 50, 2},   {{4, 3, 2, 1}, 50, 2}, {hundred, 50, 50},
                        {hundred, 95, 95},    {hundred, 100, 100},   {hundred, 1, 1},
                        {{5, 5, 5, 9}, 95, 9}};
  for (const Case& c : cases) {
    std::vector<Micros> v = c.values;
    EXPECT_EQ(NearestRank(v, c.percent), c.want) << c.percent << " of " << c.values.size();
  }
}

// Host i: plugin "a" takes i ms and lies on the chain when it outlasts "b"
// (10 ms); "b" fails on every third host; "c" is skipped on even hosts.
nlohmann::json Host(int i) {
  NodeRow c{"c", {}, 0, 0, 1, 0};
  if (i % 2 == 0) c = NodeRow{"c", {}};
  NodeRow b{"b", {}, 0, 0, 10, 1};
  if (i % 3 == 0) b.result = "failed";
  return RecordJson({{"a", {}, 0, 0, double(i), 0}, b, c}, {}, 2);
}

// Each plugin's summary: name, records, runs, failures, chained, chainable,
// median, p95 and worst.
std::vector<std::string> Rows(const FleetStats& stats) {
  std::vector<std::string> rows;
  for (const PluginSummary& p : stats.Summaries()) {
    std::ostringstream row;
    row << p.name << ' ' << p.records << ' ' << p.runs << ' ' << p.failures << ' ' << p.chained
        << ' ' << p.chainable << ' ' << p.median << ' ' << p.p95 << ' ' << p.worst;
    rows.push_back(row.str());
  }
  return rows;
}

// By median, longest first: a (10 ms), b (10 ms, name order), c. "a" is on
// the chain on hosts 10 to 20 (a tie goes to the first listed), "b" on 1 to 9.
TEST(FleetTest, PerPluginStatistics) {
  FleetStats stats;
  for (int i = 1; i <= 20; ++i) stats.Add(testing::Parse(Host(i)));
  EXPECT_EQ(stats.Records(), 20u);
  EXPECT_EQ(Rows(stats), (std::vector<std::string>{"a 20 20 0 11 20 10000 19000 20000",
                                                   "b 20 20 6 9 20 10000 10000 10000",
                                                   "c 20 10 0 0 20 1000 1000 1000"}));
}

TEST(FleetTest, ThreadsGiveTheSameResultAndUnreadableFilesAreNamed) {
  ScratchDir dir;
  std::vector<std::string> files, errors, reference;  // errors: in the order of the files
  for (int i = 1; i <= 120; ++i) {
    files.push_back(dir.Write("r" + std::to_string(100 + i) + ".json", Host(i).dump()));
    std::string name = std::to_string(i) + ".json";
    if (i % 12 == 6) {
      files.push_back(dir.Write("broken" + name, "{\"schema\": 1, \"plugins\": ["));
      errors.push_back("/broken" + name + ": not valid JSON");
    } else if (i % 12 == 0 || i == 1) {
      files.push_back(dir.path + "/absent" + name);
      errors.push_back("/absent" + name + ": cannot open");
    }
  }
  // The threads race: a multi-threaded read is repeated, so that errors put in
  // the order the threads met them rather than the files' order show.
  for (int round = 0; round < 21; ++round) {
    int threads = round == 0 ? 1 : round % 2 == 0 ? 2 : 7;
    FleetResult r = ReadFleet(files, threads);
    ASSERT_EQ(r.errors.size(), errors.size()) << threads;
    for (size_t i = 0; i < errors.size(); ++i)
      EXPECT_NE(r.errors[i].find(errors[i]), std::string::npos) << threads << ": " << r.errors[i];
    EXPECT_EQ(r.stats.Records(), 120u);
    if (reference.empty()) reference = Rows(r.stats);
    EXPECT_EQ(Rows(r.stats), reference) << threads;
  }
}

}  // namespace
}  // namespace analyze
}  // namespace bootcrank
