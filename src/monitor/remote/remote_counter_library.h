// Another machine's counters, answering the same paths as this computer's:
// `\Processor(N)\% Processor Time` per voice (a remote core, or a fleet's
// host), `\Processor(_Total)\% Processor Time`, the disk time and the memory
// status. A worker thread asks the source; the main loop only copies the last
// complete sample, so it never waits on the network.
#ifndef VESKA_MONITOR_REMOTE_REMOTE_COUNTER_LIBRARY_H_
#define VESKA_MONITOR_REMOTE_REMOTE_COUNTER_LIBRARY_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/counter_library.h"
#include "monitor/remote/http_fetcher.h"
#include "monitor/remote/remote_sample.h"
#include "monitor/remote/sources_file.h"
#include "monitor/source_status.h"

namespace veska {

class RemoteCounterLibrary : public CounterLibrary, public SourceStatusReader {
 public:
  // How long ProcessorCount waits for the source's first answer.
  static constexpr std::chrono::milliseconds kFirstAnswerWait{3000};
  // The source is asked at most this often, whatever the refresh time.
  static constexpr std::chrono::milliseconds kShortestPeriod{1000};

  // `name` is the source's name in messages (never a URL or a secret). The
  // worker runs while a query is open.
  RemoteCounterLibrary(std::string name, std::unique_ptr<RemoteSource> source,
                       std::unique_ptr<HttpFetcher> fetcher,
                       FetchSettings settings, std::FILE* messages = stderr);
  ~RemoteCounterLibrary() override;

  int32_t OpenQuery(std::uintptr_t user_data, CounterQuery* query) override;
  int32_t AddCounter(CounterQuery query, const std::string& path,
                     std::uintptr_t user_data, CounterHandle* counter) override;
  int32_t CollectQueryData(CounterQuery query) override;
  int32_t GetFormattedCounterValue(CounterHandle counter, uint32_t format,
                                   FormattedCounterValue* value) override;
  int32_t CloseQuery(CounterQuery query) override;
  bool HasNameLookup() const override { return true; }
  int32_t LookupPerfNameByIndex(uint32_t index, char* buffer,
                                uint32_t* buffer_chars) override;
  // The voices of the first answer (waiting for it a while), at least 1.
  uint32_t ProcessorCount() override;
  bool GetMemoryStatus(MemoryStatus* status) override;

  SourceStatus ReadSourceStatus() override;
  const std::string& SourceName() const { return name_; }

 private:
  static constexpr int kTotal = -1;
  static constexpr int kDisk = -2;
  struct Counter {
    std::size_t query = 0;
    int what = kTotal;  // a voice's index, kTotal or kDisk
  };
  struct Query {
    bool open = false;
    RemoteSample sample;  // as of the last collection
    bool collected = false;
    std::chrono::steady_clock::time_point last_collect{};
  };

  void StartWorker();
  void StopWorker();
  void RunWorker();
  void Publish(RemoteSample sample);
  Query* FindQuery(CounterQuery query);

  const std::string name_;
  std::unique_ptr<RemoteSource> source_;
  std::unique_ptr<HttpFetcher> fetcher_;
  FetchSettings settings_;
  std::FILE* messages_;

  std::vector<Query> queries_;
  std::vector<Counter> counters_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  bool wanted_ = false;
  int timeout_ms_ = 900;
  RemoteSample latest_;
  bool have_latest_ = false;
  bool told_down_ = false;
};

// The binding for a source of "sources.ini", asking through `fetcher`.
std::unique_ptr<RemoteCounterLibrary> MakeRemoteCounterLibrary(
    const SourceEntry& entry, std::unique_ptr<HttpFetcher> fetcher,
    std::FILE* messages = stderr);

// One binding per source, in their order, each asking through a fetcher
// of its own from `make_fetcher`.
std::vector<std::unique_ptr<RemoteCounterLibrary>> MakeRemoteCounterLibraries(
    const std::vector<SourceEntry>& entries,
    const std::function<std::unique_ptr<HttpFetcher>()>& make_fetcher);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_REMOTE_COUNTER_LIBRARY_H_
