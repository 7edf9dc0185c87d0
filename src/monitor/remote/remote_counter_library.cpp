#include "monitor/remote/remote_counter_library.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

#include "monitor/remote/exporter_source.h"
#include "monitor/remote/prometheus_source.h"

namespace veska {
namespace {

constexpr std::string_view kProcessorPrefix = "\\Processor(";
constexpr std::string_view kProcessorSuffix = ")\\% Processor Time";
constexpr std::string_view kDiskPath = "\\LogicalDisk(_Total)\\% Disk Time";
constexpr uint32_t kMaxVoiceNumber = 1 << 16;
// Memory in use is a share; the status is given over this many bytes.
constexpr uint64_t kShareScale = uint64_t{1} << 40;

// Parses the instance of a processor path: a voice's number or "_Total".
bool ParseProcessorPath(std::string_view path, int* what) {
  if (!path.starts_with(kProcessorPrefix) ||
      !path.ends_with(kProcessorSuffix) ||
      path.size() <= kProcessorPrefix.size() + kProcessorSuffix.size()) {
    return false;
  }
  const std::string_view instance = path.substr(
      kProcessorPrefix.size(),
      path.size() - kProcessorPrefix.size() - kProcessorSuffix.size());
  if (instance == "_Total") {
    *what = -1;
    return true;
  }
  if (instance.size() > 5 || (instance.size() > 1 && instance[0] == '0')) {
    return false;
  }
  uint32_t number = 0;
  const auto [end, error] = std::from_chars(
      instance.data(), instance.data() + instance.size(), number);
  if (error != std::errc() || end != instance.data() + instance.size() ||
      number >= kMaxVoiceNumber) {
    return false;
  }
  *what = static_cast<int>(number);
  return true;
}

}  // namespace

RemoteCounterLibrary::RemoteCounterLibrary(std::string name,
                                           std::unique_ptr<RemoteSource> source,
                                           std::unique_ptr<HttpFetcher> fetcher,
                                           FetchSettings settings,
                                           std::FILE* messages)
    : name_(std::move(name)),
      source_(std::move(source)),
      fetcher_(std::move(fetcher)),
      settings_(std::move(settings)),
      messages_(messages) {
  settings_.cancel = &stop_;
}

RemoteCounterLibrary::~RemoteCounterLibrary() { StopWorker(); }

void RemoteCounterLibrary::StartWorker() {
  if (worker_.joinable()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = false;
  wanted_ = true;
  // A sample from before the source was last left would be stale.
  have_latest_ = false;
  worker_ = std::thread([this] { RunWorker(); });
}

void RemoteCounterLibrary::StopWorker() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void RemoteCounterLibrary::RunWorker() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait(lock, [this] { return wanted_ || stop_; });
    if (stop_) break;
    wanted_ = false;
    FetchSettings settings = settings_;
    settings.timeout_ms = timeout_ms_;
    const auto started = std::chrono::steady_clock::now();
    lock.unlock();
    RemoteSample sample = source_->Fetch(*fetcher_, settings);
    lock.lock();
    if (stop_) break;
    Publish(std::move(sample));
    wake_.notify_all();
    wake_.wait_until(lock, started + kShortestPeriod,
                     [this] { return stop_.load(); });
  }
}

void RemoteCounterLibrary::Publish(RemoteSample sample) {
  // Said once per outage, not at every refresh; the worker keeps asking.
  if (!sample.answering && !told_down_) {
    told_down_ = true;
    if (messages_ != nullptr) {
      std::fprintf(messages_,
                   "VESKA: %s does not answer (%s); trying again every "
                   "refresh.\n",
                   name_.c_str(), sample.problem.c_str());
      std::fflush(messages_);
    }
  } else if (sample.answering && told_down_) {
    told_down_ = false;
    if (messages_ != nullptr) {
      std::fprintf(messages_, "VESKA: %s answers again.\n", name_.c_str());
      std::fflush(messages_);
    }
  }
  latest_ = std::move(sample);
  have_latest_ = true;
}

RemoteCounterLibrary::Query* RemoteCounterLibrary::FindQuery(
    CounterQuery query) {
  if (query == 0 || query > queries_.size()) return nullptr;
  Query& found = queries_[query - 1];
  return found.open ? &found : nullptr;
}

int32_t RemoteCounterLibrary::OpenQuery(std::uintptr_t, CounterQuery* query) {
  if (query == nullptr) return kCounterInvalidArgument;
  queries_.emplace_back();
  queries_.back().open = true;
  *query = queries_.size();
  StartWorker();
  return kCounterOk;
}

int32_t RemoteCounterLibrary::AddCounter(CounterQuery query,
                                         const std::string& path,
                                         std::uintptr_t,
                                         CounterHandle* counter) {
  if (counter == nullptr) return kCounterInvalidArgument;
  *counter = 0;
  if (FindQuery(query) == nullptr) return kCounterInvalidHandle;
  Counter added{query - 1, kTotal};
  if (path == kDiskPath) {
    added.what = kDisk;
  } else if (!ParseProcessorPath(path, &added.what)) {
    return kCounterNotFound;
  }
  counters_.push_back(added);
  *counter = counters_.size();
  return kCounterOk;
}

int32_t RemoteCounterLibrary::CollectQueryData(CounterQuery query) {
  Query* owner = FindQuery(query);
  if (owner == nullptr) return kCounterInvalidHandle;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  if (owner->collected) {
    // Shorter than the refresh time, so an answer that has not come by the
    // next collection is given up.
    const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(
        now - owner->last_collect);
    timeout_ms_ = static_cast<int>(
        std::clamp<long long>(interval.count() * 9 / 10, 100, 10000));
  }
  owner->last_collect = now;
  owner->collected = true;
  wanted_ = true;
  wake_.notify_all();
  if (!have_latest_) return kCounterNoData;
  owner->sample = latest_;
  return latest_.answering ? kCounterOk : kCounterNoData;
}

int32_t RemoteCounterLibrary::GetFormattedCounterValue(
    CounterHandle counter, uint32_t format, FormattedCounterValue* value) {
  if (counter == 0 || counter > counters_.size()) return kCounterInvalidHandle;
  const Counter& c = counters_[counter - 1];
  const Query* owner = FindQuery(c.query + 1);
  if (owner == nullptr) return kCounterInvalidHandle;
  if (value == nullptr || (format & kFormatDouble) == 0) {
    return kCounterInvalidArgument;
  }
  const RemoteSample& sample = owner->sample;
  double percent = kNoData;
  if (c.what == kTotal) {
    percent = sample.cpu_total;
  } else if (c.what == kDisk) {
    percent = sample.disk;
  } else if (static_cast<std::size_t>(c.what) < sample.cores.size()) {
    percent = sample.cores[static_cast<std::size_t>(c.what)];
  }
  // No figure (yet) is no data, not a load of 0.
  if (std::isnan(percent)) {
    value->status = kCounterInvalidData;
    return kCounterInvalidData;
  }
  if ((format & kFormatNoCap100) == 0) percent = std::min(percent, 100.0);
  value->status = kCounterOk;
  value->value = percent;
  return kCounterOk;
}

int32_t RemoteCounterLibrary::CloseQuery(CounterQuery query) {
  Query* owner = FindQuery(query);
  if (owner == nullptr) return kCounterInvalidHandle;
  owner->open = false;
  const bool any_open = std::any_of(queries_.begin(), queries_.end(),
                                    [](const Query& q) { return q.open; });
  if (!any_open) StopWorker();
  return kCounterOk;
}

int32_t RemoteCounterLibrary::LookupPerfNameByIndex(uint32_t index,
                                                    char* buffer,
                                                    uint32_t* buffer_chars) {
  return LookupEnglishCounterName(index, buffer, buffer_chars);
}

uint32_t RemoteCounterLibrary::ProcessorCount() {
  StartWorker();
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, kFirstAnswerWait,
                 [this] { return have_latest_ && latest_.answering; });
  return std::max<uint32_t>(
      1, static_cast<uint32_t>(have_latest_ ? latest_.cores.size() : 0));
}

bool RemoteCounterLibrary::GetMemoryStatus(MemoryStatus* status) {
  if (status == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!have_latest_ || !latest_.answering || std::isnan(latest_.memory_used)) {
    return false;
  }
  status->total_physical = kShareScale;
  status->available_physical = static_cast<uint64_t>(
      (1.0 - latest_.memory_used) * static_cast<double>(kShareScale));
  return true;
}

SourceStatus RemoteCounterLibrary::ReadSourceStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  SourceStatus status;
  if (!have_latest_) {
    status.problem = "waiting for the first answer";
    return status;
  }
  status.answering = latest_.answering;
  status.hosts_answering = latest_.hosts_answering;
  status.hosts_total = latest_.hosts_total;
  status.voices =
      latest_.answering ? static_cast<int>(latest_.cores.size()) : 0;
  status.problem = latest_.problem;
  return status;
}

std::unique_ptr<RemoteCounterLibrary> MakeRemoteCounterLibrary(
    const SourceEntry& entry, std::unique_ptr<HttpFetcher> fetcher,
    std::FILE* messages) {
  std::unique_ptr<RemoteSource> source;
  if (entry.kind == SourceEntry::Kind::kExporter) {
    source = std::make_unique<ExporterSource>(entry.url);
  } else {
    source = std::make_unique<PrometheusSource>(entry.url, entry.selector,
                                                entry.window);
  }
  FetchSettings settings;
  settings.token = entry.token;
  settings.user = entry.user;
  settings.password = entry.password;
  settings.verify_tls = entry.verify_tls;
  return std::make_unique<RemoteCounterLibrary>(entry.name, std::move(source),
                                                std::move(fetcher),
                                                std::move(settings), messages);
}

std::vector<std::unique_ptr<RemoteCounterLibrary>> MakeRemoteCounterLibraries(
    const std::vector<SourceEntry>& entries,
    const std::function<std::unique_ptr<HttpFetcher>()>& make_fetcher) {
  std::vector<std::unique_ptr<RemoteCounterLibrary>> libraries;
  for (const SourceEntry& entry : entries) {
    libraries.push_back(MakeRemoteCounterLibrary(entry, make_fetcher()));
  }
  return libraries;
}

}  // namespace veska
