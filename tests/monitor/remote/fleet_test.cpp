// A fleet through the query API: the answers read, hosts made voices.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "monitor/remote/fleet_bands.h"
#include "monitor/remote/prometheus_reader.h"
#include "monitor/remote/prometheus_source.h"

namespace veska {
namespace {

TEST(PrometheusReaderTest, ReadsVectorsScalarsAndRanges) {
  std::vector<InstantValue> values;
  std::string error;
  ASSERT_TRUE(ReadInstantAnswer(
      R"({"status":"success","data":{"resultType":"vector","result":[
        {"metric":{"instance":"127.0.0.1:19200"},"value":[1796712802.095,"0.3499"]},
        {"metric":{"instance":"b"},"value":[1796712802.095,"NaN"]},
        {"metric":{},"value":[1,"+Inf"]}]}})",
      &values, &error))
      << error;
  ASSERT_EQ(values.size(), 1u) << "NaN and infinite values say nothing";
  EXPECT_EQ(values[0].instance, "127.0.0.1:19200");
  EXPECT_DOUBLE_EQ(values[0].value, 0.3499);

  ASSERT_TRUE(ReadInstantAnswer(
      R"({"status":"success","data":{"resultType":"vector","result":[]}})",
      &values, &error));
  EXPECT_TRUE(values.empty()) << "empty is no data yet, and no failure";

  ASSERT_TRUE(ReadInstantAnswer(
      R"({"status":"success","data":{"resultType":"scalar","result":[1,"2"]}})",
      &values, &error));
  ASSERT_EQ(values.size(), 1u);
  EXPECT_DOUBLE_EQ(values[0].value, 2.0);
  EXPECT_EQ(error, "") << "a success says no reason";

  std::vector<RangeSeries> series;
  ASSERT_TRUE(ReadRangeAnswer(
      R"({"status":"success","data":{"resultType":"matrix","result":[
        {"metric":{"instance":"h"},"values":[[1,"0.5"],[2,"0.25"]]}]}})",
      &series, &error));
  ASSERT_EQ(series.size(), 1u);
  ASSERT_EQ(series[0].points.size(), 2u);
  EXPECT_DOUBLE_EQ(series[0].points[1].second, 0.25);
}

TEST(PrometheusReaderTest, RefusesErrorsMalformedAndHostileAnswers) {
  std::vector<InstantValue> values;
  std::string error;
  EXPECT_FALSE(ReadInstantAnswer(
      R"({"status":"error","errorType":"bad_data","error":"parse error"})",
      &values, &error));
  EXPECT_EQ(error, "query refused (bad_data)");
  const std::string nested =
      std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& bad :
       {std::string("{\"status\":\"success\""), std::string("[]"),
        std::string("{\"status\":\"success\",\"data\":{\"resultType\":"
                    "\"matrix\",\"result\":[]}}"),
        std::string("{\"status\":\"success\",\"data\":{\"resultType\":"
                    "\"vector\",\"result\":[{\"value\":7}]}}"),
        std::string("{\"status\":\"success\",\"data\":{\"resultType\":"
                    "\"vector\",\"result\":{}}}"),
        nested, std::string("\xff\xfe garbage")}) {
    error.clear();
    EXPECT_FALSE(ReadInstantAnswer(bad, &values, &error)) << bad.substr(0, 60);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(values.empty());
  }
}

TEST(FleetBandsTest, OneVoicePerHostUpToTheLimitThenBandsAtTheirBusiest) {
  EXPECT_EQ(BandFleet({10, kNoData, 30}).size(), 3u);
  std::vector<double> fleet(1000, 5.0);
  fleet[999] = 90.0;  // last host busy: the last band
  fleet[500] = kNoData;
  const std::vector<double> bands = BandFleet(fleet);
  ASSERT_EQ(bands.size(), kMaxFleetVoices);
  EXPECT_DOUBLE_EQ(bands.back(), 90.0);
  EXPECT_DOUBLE_EQ(bands.front(), 5.0);
  // Every host lands in exactly one band, neighbours together.
  std::vector<double> ids(130);
  for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<double>(i);
  const std::vector<double> last_of_band = BandFleet(ids);
  for (std::size_t k = 1; k < last_of_band.size(); ++k) {
    EXPECT_GT(last_of_band[k], last_of_band[k - 1]);
  }
  EXPECT_DOUBLE_EQ(last_of_band.back(), 129.0);
  EXPECT_TRUE(std::isnan(BandFleet({kNoData, kNoData})[1]));
}

TEST(FleetSampleTest, HostsInNameOrderSilentWhenDownOrWithoutFigure) {
  const RemoteSample sample =
      FleetSample({{"c:1", 1}, {"a:1", 1}, {"b:1", 0}, {"d:1", 1}},
                  {{"a:1", 0.5}, {"b:1", 0.9}, {"c:1", 0.25}}, {{"", 0.4}}, {});
  EXPECT_EQ(sample.hosts_total, 4);
  EXPECT_EQ(sample.hosts_answering, 3);
  ASSERT_EQ(sample.cores.size(), 4u);
  EXPECT_DOUBLE_EQ(sample.cores[0], 50.0);
  EXPECT_TRUE(std::isnan(sample.cores[1])) << "a host that is down is silent";
  EXPECT_DOUBLE_EQ(sample.cores[2], 25.0);
  EXPECT_TRUE(std::isnan(sample.cores[3])) << "no figure yet is not load 0";
  EXPECT_DOUBLE_EQ(sample.cpu_total, 37.5);
  EXPECT_DOUBLE_EQ(sample.memory_used, 0.4);
  EXPECT_TRUE(std::isnan(sample.disk));
}

TEST(FleetQueriesTest, SelectorJoinsEveryMatcherAndTheUrlIsEncoded) {
  const FleetQueries q = MakeFleetQueries("job=\"node\"", "5s");
  EXPECT_EQ(q.up, "up{job=\"node\"}");
  EXPECT_NE(
      q.cpu.find("node_cpu_seconds_total{mode=\"idle\",job=\"node\"}[5s]"),
      std::string::npos);
  EXPECT_EQ(MakeFleetQueries("", "1m").up, "up{job=~\".+\"}")
      << "the server refuses an empty selector";
  EXPECT_EQ(QueryUrl("http://h:9090/", "/api/v1/query", "up{a=\"b c\"}"),
            "http://h:9090/api/v1/query?query=up%7Ba%3D%22b%20c%22%7D");
}

}  // namespace
}  // namespace veska
