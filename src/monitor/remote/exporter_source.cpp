#include "monitor/remote/exporter_source.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <map>
#include <utility>

namespace veska {
namespace {

// A metrics page is tens of kilobytes; a machine with hundreds of cores
// and disks stays far below this.
constexpr std::size_t kMaxPageBytes = 8u << 20;

constexpr std::string_view kNodeCpu = "node_cpu_seconds_total";
constexpr std::string_view kWindowsCpu = "windows_cpu_time_total";
constexpr std::string_view kNodeDisk = "node_disk_io_time_seconds_total";
constexpr std::string_view kWindowsDiskIdle =
    "windows_logical_disk_idle_seconds_total";

// Memory names: the Linux exporter's, then the Windows exporter's newer and
// older ones, as (total, available) pairs.
constexpr std::pair<std::string_view, std::string_view> kMemoryNames[] = {
    {"node_memory_MemTotal_bytes", "node_memory_MemAvailable_bytes"},
    {"windows_memory_physical_total_bytes",
     "windows_memory_physical_free_bytes"},
    {"windows_cs_physical_memory_bytes",
     "windows_os_physical_memory_free_bytes"},
};

// Devices whose I/O already shows on the disks beneath them, or that are no
// disks at all, as the local binding leaves them out.
constexpr std::string_view kNotDisks[] = {"loop", "ram", "zram", "dm-",
                                          "md",   "nbd", "sr",   "fd"};

bool IsDisk(std::string_view device) {
  if (device.empty()) return false;
  for (std::string_view prefix : kNotDisks) {
    if (device.starts_with(prefix)) return false;
  }
  return true;
}

// Cores sort by their numbers ("2" before "10", "0,3" before "1,0"); a
// label that is not numbers sorts after, by its text.
std::vector<long> CoreKey(std::string_view label) {
  std::vector<long> key;
  while (!label.empty()) {
    long part = 0;
    const auto [end, error] =
        std::from_chars(label.data(), label.data() + label.size(), part);
    if (error != std::errc()) return {};
    key.push_back(part);
    label.remove_prefix(static_cast<std::size_t>(end - label.data()));
    if (!label.empty() && label[0] != ',') return {};
    if (!label.empty()) label.remove_prefix(1);
  }
  return key;
}

struct CoreOrder {
  bool operator()(const std::string& a, const std::string& b) const {
    const std::vector<long> ka = CoreKey(a), kb = CoreKey(b);
    if (ka.empty() != kb.empty()) return kb.empty();
    if (ka != kb) return ka < kb;
    return a < b;
  }
};

bool IsIdleMode(std::string_view mode) {
  return mode == "idle" || mode == "iowait";
}

}  // namespace

bool IsHostMetric(std::string_view name) {
  if (name == kNodeCpu || name == kWindowsCpu || name == kNodeDisk ||
      name == kWindowsDiskIdle) {
    return true;
  }
  for (const auto& [total, available] : kMemoryNames) {
    if (name == total || name == available) return true;
  }
  return false;
}

HostCounters ReadHostCounters(const std::vector<MetricSample>& samples) {
  HostCounters counters;
  std::map<std::string, HostCounters::Core, CoreOrder> cores;
  std::map<std::string_view, double> memory;
  for (const MetricSample& sample : samples) {
    if (sample.name == kNodeCpu || sample.name == kWindowsCpu) {
      const std::string_view core =
          sample.Label(sample.name == kNodeCpu ? "cpu" : "core");
      if (core.empty()) continue;
      HostCounters::Core& c = cores[std::string(core)];
      c.total += sample.value;
      if (IsIdleMode(sample.Label("mode"))) c.idle += sample.value;
    } else if (sample.name == kNodeDisk) {
      if (!IsDisk(sample.Label("device"))) continue;
      counters.disk_seconds = counters.disk_seconds.value_or(0) + sample.value;
      ++counters.disks;
    } else if (sample.name == kWindowsDiskIdle) {
      const std::string_view volume = sample.Label("volume");
      if (volume.empty() || volume == "_Total" ||
          volume.starts_with("HarddiskVolume")) {
        continue;
      }
      counters.disk_seconds = counters.disk_seconds.value_or(0) + sample.value;
      counters.disk_counts_idle = true;
      ++counters.disks;
    } else {
      memory[sample.name] = sample.value;
    }
  }
  for (auto& [label, core] : cores) counters.cores.push_back(core);
  for (const auto& [total, available] : kMemoryNames) {
    const auto t = memory.find(total), a = memory.find(available);
    if (t != memory.end() && a != memory.end()) {
      counters.memory_total = t->second;
      counters.memory_available = a->second;
      break;
    }
  }
  return counters;
}

RemoteSample HostRates(const HostCounters& before, const HostCounters& now,
                       double elapsed_s) {
  RemoteSample sample;
  sample.answering = true;
  sample.hosts_answering = sample.hosts_total = 1;
  sample.cores.assign(now.cores.size(), kNoData);
  double sum = 0.0;
  int counted = 0;
  for (std::size_t n = 0; n < now.cores.size() && n < before.cores.size();
       ++n) {
    const double all = now.cores[n].total - before.cores[n].total;
    const double idle = now.cores[n].idle - before.cores[n].idle;
    // A counter that went back is a restart, not a load.
    if (!(all > 0.0) || idle < 0.0 || idle > all + 1e-9) continue;
    sample.cores[n] = std::clamp(100.0 * (1.0 - idle / all), 0.0, 100.0);
    sum += sample.cores[n];
    ++counted;
  }
  if (counted > 0 && counted == static_cast<int>(now.cores.size())) {
    sample.cpu_total = sum / counted;
  }
  if (now.memory_total && now.memory_available && *now.memory_total > 0.0) {
    sample.memory_used =
        std::clamp(1.0 - *now.memory_available / *now.memory_total, 0.0, 1.0);
  }
  if (now.disk_seconds && before.disk_seconds && now.disks > 0 &&
      now.disks == before.disks && elapsed_s > 0.0) {
    const double delta = *now.disk_seconds - *before.disk_seconds;
    if (delta >= 0.0) {
      double share = delta / now.disks / elapsed_s;
      if (now.disk_counts_idle) share = 1.0 - share;
      sample.disk = std::clamp(share * 100.0, 0.0, 100.0);
    }
  }
  return sample;
}

ExporterSource::ExporterSource(std::string url, Clock clock)
    : url_(std::move(url)), clock_(std::move(clock)) {
  if (!clock_) {
    clock_ = [] {
      return std::chrono::duration<double>(
                 std::chrono::steady_clock::now().time_since_epoch())
          .count();
    };
  }
}

RemoteSample ExporterSource::Fetch(HttpFetcher& fetcher,
                                   const FetchSettings& settings) {
  const HttpResponse response =
      fetcher.Get(MakeRequest(url_, settings, kMaxPageBytes));
  const double time = clock_();
  RemoteSample sample;
  sample.hosts_total = 1;
  sample.problem = DescribeFailure(response);
  std::vector<MetricSample> samples;
  if (sample.problem.empty() &&
      !ParseExposition(response.body, IsHostMetric, &samples)) {
    sample.problem = "unreadable metrics";
  }
  if (!sample.problem.empty()) {
    // The next answer starts afresh: rates across the gap would blur it.
    last_.reset();
    return sample;
  }
  HostCounters counters = ReadHostCounters(samples);
  if (last_) {
    sample = HostRates(*last_, counters, time - last_time_);
  } else {
    sample.answering = true;
    sample.hosts_answering = 1;
    sample.cores.assign(counters.cores.size(), kNoData);
    if (counters.memory_total && counters.memory_available &&
        *counters.memory_total > 0.0) {
      sample.memory_used = std::clamp(
          1.0 - *counters.memory_available / *counters.memory_total, 0.0, 1.0);
    }
  }
  last_ = std::move(counters);
  last_time_ = time;
  return sample;
}

}  // namespace veska
