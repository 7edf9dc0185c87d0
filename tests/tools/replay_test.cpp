// A fleet's past as a load script: the range answers lined up by step,
// hosts kept as voices throughout, and the points played as ramps.
#include "replay.h"

#include <gtest/gtest.h>

#include <cmath>

#include "monitor/remote/fleet_history.h"

namespace veska::pack {
namespace {

TEST(ReplayTest, StepsLineUpAndAHostAbsentOrDownIsSilent) {
  // Host "b" is scraped only from the second step on; "a" goes down at the
  // third.
  const std::vector<RangeSeries> up = {{"a", {{100, 1}, {110, 1}, {120, 0}}},
                                       {"b", {{110, 1}, {120, 1}}}};
  const std::vector<RangeSeries> cpu = {
      {"a", {{100, 0.5}, {110, 0.25}, {120, 0.9}}},
      {"b", {{110.0004, 1.0}, {120, 0.1}}}};
  const std::vector<RangeSeries> memory = {{"", {{100, 0.2}, {120, 0.4}}}};
  const auto samples = FleetHistory(up, cpu, memory, {}, 100, 10, 3);
  ASSERT_EQ(samples.size(), 3u);
  for (const RemoteSample& s : samples) ASSERT_EQ(s.cores.size(), 2u);
  EXPECT_DOUBLE_EQ(samples[0].cores[0], 50.0);
  EXPECT_TRUE(std::isnan(samples[0].cores[1]));
  EXPECT_DOUBLE_EQ(samples[1].cores[1], 100.0) << "a time a hair off a step";
  EXPECT_TRUE(std::isnan(samples[2].cores[0])) << "down, whatever its rate";
  EXPECT_DOUBLE_EQ(samples[2].cores[1], 10.0);
  EXPECT_TRUE(std::isnan(samples[1].memory_used));

  const std::vector<LoadPoint> points = ReplayPoints(samples);
  EXPECT_EQ(points[0].cores[1], 0.0) << "no figure plays as silence";
  EXPECT_DOUBLE_EQ(points[2].ram, 40.0);
  const LoadScript script = LoadScript::FromPoints(points, 0.5);
  EXPECT_DOUBLE_EQ(script.Seconds(), 1.0);
  EXPECT_DOUBLE_EQ(script.At(0.25).cores[0], 37.5) << "ramps between steps";
  EXPECT_DOUBLE_EQ(script.At(0.75).cores[1], 55.0);
  EXPECT_DOUBLE_EQ(script.At(5).cores[1], 10.0) << "past the end, the end";
}

TEST(ReplayTest, DurationsAndTheLimitsOfAReplay) {
  EXPECT_EQ(ParseDuration("90"), 90);
  EXPECT_EQ(ParseDuration("5m"), 300);
  EXPECT_EQ(ParseDuration("1.5h"), 5400);
  EXPECT_EQ(ParseDuration("1d"), 86400);
  for (const char* bad : {"", "m", "5x", "-5m", "0", "nan", "inf"}) {
    EXPECT_FALSE(ParseDuration(bad)) << bad;
  }
  struct NoServer : HttpFetcher {
    int calls = 0;
    HttpResponse Get(const HttpRequest&) override {
      ++calls;
      return {false, 0, "", "Couldn't connect to server"};
    }
  } fetcher;
  SourceEntry fleet;
  fleet.name = "web";
  fleet.kind = SourceEntry::Kind::kPrometheus;
  fleet.url = "http://h:9090";
  Replay replay;
  std::string error;
  EXPECT_FALSE(FetchReplay(fetcher, fleet, 1e9, 86400, 1, &replay, &error));
  EXPECT_EQ(fetcher.calls, 0) << error;
  EXPECT_FALSE(FetchReplay(fetcher, fleet, 1e9, 300, 30, &replay, &error));
  EXPECT_EQ(error, "web: Couldn't connect to server");
  SourceEntry host = fleet;
  host.name = "db";
  host.kind = SourceEntry::Kind::kExporter;
  EXPECT_FALSE(FetchReplay(fetcher, host, 1e9, 300, 30, &replay, &error));
  EXPECT_EQ(error, "db is an exporter: only a Prometheus keeps the past");
}

}  // namespace
}  // namespace veska::pack
