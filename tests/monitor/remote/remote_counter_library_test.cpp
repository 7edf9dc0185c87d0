// The binding over a scripted fetcher: the worker asks, the main loop reads
// whole samples through the counter paths, faults fade and are told once.
#include "monitor/remote/remote_counter_library.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "monitor/load_sampling.h"
#include "monitor/monitor_state.h"
#include "monitor/remote/sources_file.h"

namespace veska {
namespace {

// Answers each URL through a function the test may change at any time.
class ScriptedFetcher : public HttpFetcher {
 public:
  using Script = std::function<HttpResponse(const HttpRequest&)>;
  explicit ScriptedFetcher(Script script) : script_(std::move(script)) {}
  void SetScript(Script script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
  }
  HttpResponse Get(const HttpRequest& request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    last_ = request;
    ++calls_;
    return script_(request);
  }
  HttpRequest Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  Script script_;
  HttpRequest last_;
  int calls_ = 0;
};

HttpResponse Ok(std::string body) { return {true, 200, std::move(body), ""}; }

std::string Vector(const std::string& series) {
  return R"({"status":"success","data":{"resultType":"vector","result":[)" +
         series + "]}}";
}

std::string Series(const std::string& instance, double value) {
  return R"({"metric":{"instance":")" + instance + R"("},"value":[1,")" +
         std::to_string(value) + "\"]}";
}

// A fleet of two hosts; `busy` decides host "b"'s load and `up_b` whether
// it answers.
struct Fleet {
  std::mutex mutex;
  double busy = 0.8;
  bool up_b = true;
  HttpResponse Answer(const HttpRequest& request) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::string& url = request.url;
    if (url.find("query=up") != std::string::npos) {
      return Ok(Vector(Series("a", 1) + "," + Series("b", up_b ? 1 : 0)));
    }
    if (url.find("node_cpu") != std::string::npos) {
      return Ok(Vector(Series("a", 0.1) + "," + Series("b", busy)));
    }
    if (url.find("MemAvailable") != std::string::npos) {
      return Ok(Vector(Series("", 0.5)));
    }
    return Ok(Vector(""));  // no disk figure yet
  }
};

std::unique_ptr<RemoteCounterLibrary> MakeFleet(ScriptedFetcher** fetcher,
                                                std::FILE* messages,
                                                Fleet& fleet) {
  SourceEntry entry;
  entry.name = "web";
  entry.kind = SourceEntry::Kind::kPrometheus;
  entry.url = "http://127.0.0.1:1";
  entry.selector = "job=\"node\"";
  entry.token = "s3cret";
  auto scripted = std::make_unique<ScriptedFetcher>(
      [&fleet](const HttpRequest& r) { return fleet.Answer(r); });
  *fetcher = scripted.get();
  return MakeRemoteCounterLibrary(entry, std::move(scripted), messages);
}

// Samples as the main loop does until `done` holds, for at most 8 s.
bool SampleUntil(MonitorState& monitor, CounterLibrary& counters,
                 const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  while (std::chrono::steady_clock::now() < end) {
    SampleCpuLoads(monitor, counters);
    SampleRAMLoad(monitor, counters);
    SampleDiskLoad(monitor, counters);
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string Read(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) text += buffer;
  return text;
}

TEST(RemoteCounterLibraryTest, AFleetPlaysAsCoresAndAHostThatGoesFades) {
  Fleet fleet;
  ScriptedFetcher* fetcher = nullptr;
  std::FILE* messages = std::tmpfile();
  auto counters = MakeFleet(&fetcher, messages, fleet);
  MonitorState monitor;
  ASSERT_EQ(SetUpDiskCounter(monitor, *counters), 1);
  ASSERT_EQ(SetUpCpuCounters(monitor, *counters), 1);
  EXPECT_EQ(monitor.LastCoreIndex, 1) << "one voice per host";
  EXPECT_EQ(fetcher->Last().token, "s3cret");

  ASSERT_TRUE(SampleUntil(monitor, *counters,
                          [&] { return monitor.CoreLoads[1] > 79.0; }));
  EXPECT_NEAR(monitor.CoreLoads[0], 10.0, 1e-6);
  EXPECT_NEAR(monitor.RAMLoad, 50.0, 0.01);
  EXPECT_EQ(monitor.DiskLoad, 0.0);
  SourceStatus status = counters->ReadSourceStatus();
  EXPECT_EQ(status.hosts_answering, 2);
  EXPECT_EQ(status.voices, 2);

  {
    std::lock_guard<std::mutex> lock(fleet.mutex);
    fleet.up_b = false;
  }
  ASSERT_TRUE(SampleUntil(monitor, *counters, [&] {
    return monitor.CoreLoads[1] == 0.0;
  })) << "a host that stops answering is silenced";
  EXPECT_NEAR(monitor.CoreLoads[0], 10.0, 1e-6);
  EXPECT_EQ(counters->ReadSourceStatus().hosts_answering, 1);

  // The server itself goes: said once, every voice silent, then back.
  fetcher->SetScript([](const HttpRequest&) {
    return HttpResponse{false, 0, "", "Couldn't connect to server"};
  });
  ASSERT_TRUE(SampleUntil(monitor, *counters, [&] {
    return monitor.CoreLoads[0] == 0.0 &&
           !counters->ReadSourceStatus().answering;
  }));
  const int calls = fetcher->Calls();
  ASSERT_TRUE(SampleUntil(monitor, *counters, [&] {
    return fetcher->Calls() >= calls + 2;
  })) << "the worker keeps asking";
  EXPECT_EQ(counters->ReadSourceStatus().problem, "Couldn't connect to server");
  {
    std::lock_guard<std::mutex> lock(fleet.mutex);
    fleet.up_b = true;
  }
  fetcher->SetScript(
      [&fleet](const HttpRequest& r) { return fleet.Answer(r); });
  ASSERT_TRUE(SampleUntil(monitor, *counters,
                          [&] { return monitor.CoreLoads[1] > 79.0; }));
  CloseCpuQuery(monitor, *counters);
  CloseDiskQuery(monitor, *counters);
  const std::string told = Read(messages);
  EXPECT_EQ(told,
            "VESKA: web does not answer (Couldn't connect to server); trying "
            "again every refresh.\nVESKA: web answers again.\n");
  EXPECT_EQ(told.find("s3cret"), std::string::npos);
  std::fclose(messages);
}

TEST(RemoteCounterLibraryTest, AnswersTheLocalPathsAndRefusesOthers) {
  Fleet fleet;
  ScriptedFetcher* fetcher = nullptr;
  auto counters = MakeFleet(&fetcher, nullptr, fleet);
  CounterQuery query = 0;
  ASSERT_EQ(counters->OpenQuery(0, &query), kCounterOk);
  CounterHandle total = 0, bad = 1, core = 0;
  EXPECT_EQ(counters->AddCounter(query, "\\Processor(_Total)\\% Processor Time",
                                 0, &total),
            kCounterOk);
  EXPECT_EQ(
      counters->AddCounter(query, "\\Processor(01)\\% Processor Time", 0, &bad),
      kCounterNotFound);
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(counters->AddCounter(query, "\\Memory\\Whatever", 0, &bad),
            kCounterNotFound);
  EXPECT_EQ(
      counters->AddCounter(query, "\\Processor(7)\\% Processor Time", 0, &core),
      kCounterOk);
  FormattedCounterValue value;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  while (counters->GetFormattedCounterValue(total, kFormatDouble, &value) !=
             kCounterOk &&
         std::chrono::steady_clock::now() < end) {
    counters->CollectQueryData(query);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_NEAR(value.value, 45.0, 1e-6);
  EXPECT_EQ(counters->GetFormattedCounterValue(core, kFormatDouble, &value),
            kCounterInvalidData)
      << "a voice the fleet does not have has no figure";
  EXPECT_EQ(counters->CloseQuery(query), kCounterOk);
  EXPECT_EQ(counters->CollectQueryData(query), kCounterInvalidHandle);
}

TEST(SourcesFileTest, ReadsSourcesAndTheChoiceAndLeavesOutTheBroken) {
  const SourcesFile file = ReadSourcesText(
      "\xEF\xBB\xBF[web]\r\nPrometheus = http://127.0.0.1:9090  \r\n"
      "Selector = job=\"node\"\r\nWindow=5s\r\n"
      "[db1]\nExporter = https://u:pw@db1:9100/metrics\nVerifyTls = 0\n"
      "[nothing]\nSelector = x\n"
      "[ftp]\nExporter = ftp://x\n"
      "[WEB]\nExporter = http://dup\n"
      "[Listen]\nSource = db1\n");
  ASSERT_EQ(file.sources.size(), 2u);
  const SourceEntry* web = file.Find("Web");
  ASSERT_NE(web, nullptr);
  EXPECT_EQ(web->kind, SourceEntry::Kind::kPrometheus);
  EXPECT_EQ(web->url, "http://127.0.0.1:9090");
  EXPECT_EQ(web->selector, "job=\"node\"");
  EXPECT_EQ(web->window, "5s");
  EXPECT_TRUE(web->verify_tls);
  EXPECT_FALSE(file.sources[1].verify_tls);
  EXPECT_EQ(file.listen, "db1");
  EXPECT_TRUE(file.holds_secret) << "a password inside the address";
  EXPECT_EQ(file.problems.size(), 3u);
  for (const std::string& problem : file.problems) {
    EXPECT_EQ(problem.find("pw"), std::string::npos) << problem;
  }
  EXPECT_EQ(UrlForDisplay("https://u:pw@db1:9100/m@x"), "https://db1:9100/m@x");
  EXPECT_FALSE(ReadSourcesText("[a]\nExporter = http://h/\n").holds_secret);
  EXPECT_TRUE(
      ReadSourcesText("[a]\nExporter = http://h/\nToken = t\n").holds_secret);
}

}  // namespace
}  // namespace veska
