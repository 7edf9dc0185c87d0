#include "monitor/remote/prometheus_source.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "monitor/remote/fleet_bands.h"

namespace veska {
namespace {

// One series per host in each answer, so this bounds fleets of many
// thousand hosts.
constexpr std::size_t kMaxAnswerBytes = 16u << 20;

// "{a,b}" from the non-empty matchers: the server refuses "up{}".
std::string Braces(std::string_view first, std::string_view selector) {
  std::string text;
  for (std::string_view part : {first, selector}) {
    if (part.empty()) continue;
    text += text.empty() ? "{" : ",";
    text += part;
  }
  return text.empty() ? text : text + "}";
}

}  // namespace

FleetQueries MakeFleetQueries(std::string_view selector,
                              std::string_view window) {
  const std::string w = "[" + std::string(window) + "]";
  const std::string idle = Braces("mode=\"idle\"", selector);
  const std::string all = Braces("", selector);
  const std::string disks =
      Braces("device!~\"(loop|ram|zram|dm-|md|nbd|sr|fd).*\"", selector);
  FleetQueries q;
  q.up = "up" + (all.empty() ? "{job=~\".+\"}" : all);
  // irate takes the last two scrapes in the window: the load now, whatever
  // the scrape interval.
  q.cpu = "1 - avg by (instance) (irate(node_cpu_seconds_total" + idle + w +
          ") or irate(windows_cpu_time_total" + idle + w + "))";
  q.memory = "avg(1 - node_memory_MemAvailable_bytes" + all +
             " / node_memory_MemTotal_bytes" + all +
             " or 1 - windows_memory_physical_free_bytes" + all +
             " / windows_memory_physical_total_bytes" + all + ")";
  q.disk = "avg(irate(node_disk_io_time_seconds_total" + disks + w +
           ") or 1 - irate(windows_logical_disk_idle_seconds_total" +
           Braces("volume!~\"_Total|HarddiskVolume.*\"", selector) + w + "))";
  return q;
}

std::string QueryUrl(std::string_view base, std::string_view path,
                     std::string_view query) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = std::string(base) + std::string(path) + "?query=";
  for (const unsigned char c : query) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                       c == '.' || c == '~';
    if (plain) {
      url.push_back(static_cast<char>(c));
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 15]);
    }
  }
  return url;
}

RemoteSample FleetSample(const std::vector<InstantValue>& up,
                         const std::vector<InstantValue>& cpu,
                         const std::vector<InstantValue>& memory,
                         const std::vector<InstantValue>& disk) {
  RemoteSample sample;
  sample.answering = true;
  std::map<std::string, bool> hosts;  // by instance name: answering
  for (const InstantValue& v : up) {
    bool& answering = hosts[v.instance];
    answering = answering || v.value == 1.0;
  }
  std::map<std::string, double> loads;
  for (const InstantValue& v : cpu) loads[v.instance] = v.value;
  std::vector<double> host_loads;
  double sum = 0.0;
  int counted = 0;
  for (const auto& [instance, answering] : hosts) {
    double load = kNoData;
    const auto found = loads.find(instance);
    if (answering && found != loads.end()) {
      load = std::clamp(found->second * 100.0, 0.0, 100.0);
      sum += load;
      ++counted;
    }
    host_loads.push_back(load);
    if (answering) ++sample.hosts_answering;
  }
  sample.hosts_total = static_cast<int>(hosts.size());
  sample.cores = BandFleet(host_loads);
  if (counted > 0) sample.cpu_total = sum / counted;
  if (!memory.empty()) {
    sample.memory_used = std::clamp(memory[0].value, 0.0, 1.0);
  }
  if (!disk.empty())
    sample.disk = std::clamp(disk[0].value * 100.0, 0.0, 100.0);
  return sample;
}

PrometheusSource::PrometheusSource(std::string base_url, std::string selector,
                                   std::string window)
    : base_url_(std::move(base_url)),
      queries_(MakeFleetQueries(selector, window.empty() ? "2m" : window)) {}

bool PrometheusSource::Ask(HttpFetcher& fetcher, const FetchSettings& settings,
                           const std::string& query,
                           std::vector<InstantValue>* values,
                           std::string* problem) {
  const HttpResponse response = fetcher.Get(MakeRequest(
      QueryUrl(base_url_, "/api/v1/query", query), settings, kMaxAnswerBytes));
  // A refused query still answers with the API's JSON, which says why.
  if (!response.received) {
    *problem = DescribeFailure(response);
    return false;
  }
  std::string error;
  if (!ReadInstantAnswer(response.body, values, &error)) {
    const std::string failure = DescribeFailure(response);
    *problem = failure.empty() ? error : failure + ", " + error;
    return false;
  }
  return true;
}

RemoteSample PrometheusSource::Fetch(HttpFetcher& fetcher,
                                     const FetchSettings& settings) {
  std::vector<InstantValue> up, cpu, memory, disk;
  std::string problem;
  if (!Ask(fetcher, settings, queries_.up, &up, &problem) ||
      !Ask(fetcher, settings, queries_.cpu, &cpu, &problem) ||
      !Ask(fetcher, settings, queries_.memory, &memory, &problem) ||
      !Ask(fetcher, settings, queries_.disk, &disk, &problem)) {
    RemoteSample failed;
    failed.problem = problem;
    return failed;
  }
  return FleetSample(up, cpu, memory, disk);
}

}  // namespace veska
