// The metrics page parser and what one host's two scrapes say.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "monitor/remote/exporter_source.h"
#include "monitor/remote/exposition_parser.h"

namespace veska {
namespace {

std::vector<MetricSample> Parse(const std::string& text, bool* ok = nullptr) {
  std::vector<MetricSample> samples;
  const bool parsed = ParseExposition(text, {}, &samples);
  if (ok != nullptr) *ok = parsed;
  return samples;
}

TEST(ExpositionParserTest, ReadsNamesLabelsEscapesAndGoFloats) {
  bool ok = false;
  const auto samples = Parse(
      "# HELP node_cpu_seconds_total Seconds.\n"
      "# TYPE node_cpu_seconds_total counter\n"
      "node_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} 3766.71\r\n"
      "\n"
      "node_memory_MemTotal_bytes 2.5276157952e+10\n"
      "odd{path=\"a\\\\b\\\"c\\n\", } +Inf 1700000000000\n"
      "  spaced { x = \"1\" }\t-3.5e-2  \n",
      &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(samples.size(), 4u);
  EXPECT_EQ(samples[0].Label("mode"), "idle");
  EXPECT_DOUBLE_EQ(samples[0].value, 3766.71);
  EXPECT_DOUBLE_EQ(samples[1].value, 2.5276157952e+10);
  EXPECT_EQ(samples[2].Label("path"), "a\\b\"c\n");
  EXPECT_TRUE(std::isinf(samples[2].value));
  EXPECT_EQ(samples[3].name, "spaced");
  EXPECT_DOUBLE_EQ(samples[3].value, -0.035);
  EXPECT_EQ(samples[3].Label("missing"), "");
}

TEST(ExpositionParserTest, RefusesMalformedAndHostileTextWhole) {
  const std::string good = "a 1\n";
  for (const std::string& bad : std::vector<std::string>{
           "a{b=\"1\" 2\n", "a{b=1} 2\n", "a 1x\n", "a\n", "1a 2\n",
           "a{b=\"\\q\"} 1\n", "a{b=\"open} 1\n", "a 1 notatime\n", "a 1 2 3\n",
           std::string("a 1\0\n", 5), "a{=\"x\"} 1\n"}) {
    bool ok = true;
    EXPECT_TRUE(Parse(good + bad, &ok).empty()) << bad;
    EXPECT_FALSE(ok) << bad;
  }
  std::string many = "a{";
  for (int i = 0; i <= 32; ++i) many += "l" + std::to_string(i) + "=\"v\",";
  many += "} 1\n";
  bool ok = true;
  Parse(many, &ok);
  EXPECT_FALSE(ok) << "more labels than a sample may carry";
}

TEST(ExpositionParserTest, KeepsOnlyWantedNamesButChecksEveryLine) {
  std::vector<MetricSample> samples;
  EXPECT_TRUE(ParseExposition("go_gc 1\nnode_cpu_seconds_total{cpu=\"0\"} 2\n",
                              IsHostMetric, &samples));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].name, "node_cpu_seconds_total");
  EXPECT_FALSE(ParseExposition("go_gc oops\n", IsHostMetric, &samples));
}

// Two cores over modes as the Linux exporter gives them.
std::string NodePage(double idle0, double user0, double idle1, double user1,
                     double io_s, double available) {
  auto line = [](const char* cpu, const char* mode, double v) {
    return "node_cpu_seconds_total{cpu=\"" + std::string(cpu) + "\",mode=\"" +
           mode + "\"} " + std::to_string(v) + "\n";
  };
  // cpu "10" before "2" in text; numbers decide the order.
  return line("10", "idle", idle1) + line("10", "user", user1) +
         line("10", "iowait", 0) + line("2", "idle", idle0) +
         line("2", "user", user0) +
         "node_memory_MemTotal_bytes 1000\n"
         "node_memory_MemAvailable_bytes " +
         std::to_string(available) +
         "\n"
         "node_disk_io_time_seconds_total{device=\"sda\"} " +
         std::to_string(io_s) +
         "\n"
         "node_disk_io_time_seconds_total{device=\"loop0\"} 999\n";
}

HostCounters Counters(const std::string& page) {
  std::vector<MetricSample> samples;
  EXPECT_TRUE(ParseExposition(page, IsHostMetric, &samples));
  return ReadHostCounters(samples);
}

TEST(HostRatesTest, BusyIsOneMinusIdleShareBetweenScrapesInCoreOrder) {
  const HostCounters before = Counters(NodePage(100, 50, 100, 50, 10, 250));
  const HostCounters now = Counters(NodePage(101, 53, 102, 50, 10.5, 250));
  const RemoteSample sample = HostRates(before, now, 2.0);
  ASSERT_EQ(sample.cores.size(), 2u);
  EXPECT_NEAR(sample.cores[0], 75.0, 1e-6);  // cpu 2: 1 idle of 4
  EXPECT_NEAR(sample.cores[1], 0.0, 1e-6);   // cpu 10: idle only
  EXPECT_NEAR(sample.cpu_total, 37.5, 1e-6);
  EXPECT_NEAR(sample.memory_used, 0.75, 1e-9);
  EXPECT_NEAR(sample.disk, 25.0, 1e-6);  // loop0 left out
  EXPECT_EQ(sample.hosts_answering, 1);
}

TEST(HostRatesTest, ACounterResetIsNoFigureNotALoad) {
  const HostCounters before = Counters(NodePage(100, 50, 100, 50, 10, 250));
  const HostCounters now = Counters(NodePage(1, 1, 102, 50, 1, 250));
  const RemoteSample sample = HostRates(before, now, 1.0);
  EXPECT_TRUE(std::isnan(sample.cores[0]));
  EXPECT_NEAR(sample.cores[1], 0.0, 1e-6);
  EXPECT_TRUE(std::isnan(sample.cpu_total));
  EXPECT_TRUE(std::isnan(sample.disk));
}

TEST(HostRatesTest, ReadsTheWindowsExportersNamesOldAndNew) {
  const std::string cores =
      "windows_cpu_time_total{core=\"0,1\",mode=\"idle\"} %IDLE\n"
      "windows_cpu_time_total{core=\"0,1\",mode=\"user\"} %USER\n"
      "windows_cpu_time_total{core=\"0,0\",mode=\"idle\"} 10\n"
      "windows_cpu_time_total{core=\"0,0\",mode=\"dpc\"} 10\n"
      "windows_logical_disk_idle_seconds_total{volume=\"C:\"} %DISK\n"
      "windows_logical_disk_idle_seconds_total{volume=\"_Total\"} 0\n";
  auto page = [&](int idle, int user, int disk, bool old_names) {
    std::string text = cores;
    text.replace(text.find("%IDLE"), 5, std::to_string(idle));
    text.replace(text.find("%USER"), 5, std::to_string(user));
    text.replace(text.find("%DISK"), 5, std::to_string(disk));
    return text + (old_names ? "windows_cs_physical_memory_bytes 400\n"
                               "windows_os_physical_memory_free_bytes 100\n"
                             : "windows_memory_physical_total_bytes 400\n"
                               "windows_memory_physical_free_bytes 300\n");
  };
  const RemoteSample sample = HostRates(Counters(page(0, 0, 0, false)),
                                        Counters(page(1, 3, 1, true)), 4.0);
  ASSERT_EQ(sample.cores.size(), 2u);
  EXPECT_TRUE(std::isnan(sample.cores[0]));  // "0,0" did not move
  EXPECT_NEAR(sample.cores[1], 75.0, 1e-6);
  EXPECT_NEAR(sample.memory_used, 0.75, 1e-9);
  EXPECT_NEAR(sample.disk, 75.0, 1e-6);  // idle 1 s of 4
  EXPECT_NEAR(*Counters(page(0, 0, 0, false)).memory_available, 300, 1e-9);
}

}  // namespace
}  // namespace veska

namespace veska {
namespace {

// Pages served in turn, then failures.
class PagesFetcher : public HttpFetcher {
 public:
  std::vector<HttpResponse> answers;
  std::size_t next = 0;
  HttpResponse Get(const HttpRequest& request) override {
    EXPECT_EQ(request.max_bytes, 8u << 20) << "a page is capped";
    if (next < answers.size()) return answers[next++];
    return {false, 0, "", "Operation timed out"};
  }
};

TEST(ExporterSourceTest, FirstScrapeCountsCoresRatesFollowAndAGapStartsAfresh) {
  double clock = 0.0;
  ExporterSource source("http://h:9100/metrics", [&clock] { return clock; });
  PagesFetcher fetcher;
  const std::string page1 = NodePage(100, 50, 100, 50, 10, 250);
  const std::string page2 = NodePage(101, 53, 102, 50, 10.5, 250);
  fetcher.answers = {{true, 200, page1, ""},
                     {true, 200, page2, ""},
                     {true, 500, "oops", ""},
                     {true, 200, "garbage{\n", ""},
                     {true, 200, page2, ""},
                     {true, 200, NodePage(102, 56, 104, 50, 11, 250), ""}};
  RemoteSample sample = source.Fetch(fetcher, {});
  EXPECT_TRUE(sample.answering);
  ASSERT_EQ(sample.cores.size(), 2u) << "the voices are known at once";
  EXPECT_TRUE(std::isnan(sample.cores[0])) << "no rate from one scrape";
  EXPECT_NEAR(sample.memory_used, 0.75, 1e-9);
  clock = 2.0;
  sample = source.Fetch(fetcher, {});
  EXPECT_NEAR(sample.cores[0], 75.0, 1e-6);
  EXPECT_NEAR(sample.disk, 25.0, 1e-6);
  sample = source.Fetch(fetcher, {});
  EXPECT_FALSE(sample.answering);
  EXPECT_EQ(sample.problem, "HTTP 500");
  EXPECT_TRUE(sample.cores.empty());
  sample = source.Fetch(fetcher, {});
  EXPECT_EQ(sample.problem, "unreadable metrics");
  clock = 100.0;
  sample = source.Fetch(fetcher, {});
  EXPECT_TRUE(std::isnan(sample.cores[0])) << "no rate across the gap";
  clock = 102.0;
  sample = source.Fetch(fetcher, {});
  EXPECT_NEAR(sample.cores[0], 75.0, 1e-6);
  EXPECT_EQ(source.Fetch(fetcher, {}).problem, "Operation timed out");
}

}  // namespace
}  // namespace veska
