#include "monitor/remote/fleet_history.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "monitor/remote/prometheus_source.h"

namespace veska {
namespace {

// A replay holds at most this many steps: ten minutes of sound at one step
// a tenth of a second.
constexpr int kMaxSteps = 6000;
constexpr std::size_t kMaxHistoryBytes = 64u << 20;

// The value of each series at step `k`, by instance.
std::vector<InstantValue> AtStep(const std::vector<RangeSeries>& series,
                                 double start, double step, int k) {
  std::vector<InstantValue> values;
  for (const RangeSeries& s : series) {
    for (const auto& [time, value] : s.points) {
      if (std::lround((time - start) / step) == k) {
        values.push_back({s.instance, value});
        break;
      }
    }
  }
  return values;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

std::vector<RemoteSample> FleetHistory(const std::vector<RangeSeries>& up,
                                       const std::vector<RangeSeries>& cpu,
                                       const std::vector<RangeSeries>& memory,
                                       const std::vector<RangeSeries>& disk,
                                       double start, double step, int count) {
  std::set<std::string> hosts;
  for (const RangeSeries& s : up) hosts.insert(s.instance);
  std::vector<RemoteSample> samples;
  for (int k = 0; k < count; ++k) {
    std::map<std::string, double> answering;
    for (const std::string& host : hosts) answering[host] = 0.0;
    for (const InstantValue& v : AtStep(up, start, step, k)) {
      answering[v.instance] = v.value;
    }
    std::vector<InstantValue> up_now;
    for (const auto& [host, value] : answering) up_now.push_back({host, value});
    samples.push_back(FleetSample(up_now, AtStep(cpu, start, step, k),
                                  AtStep(memory, start, step, k),
                                  AtStep(disk, start, step, k)));
  }
  return samples;
}

bool FetchFleetHistory(HttpFetcher& fetcher, const SourceEntry& source,
                       double start, double end, double step,
                       std::vector<RemoteSample>* samples, std::string* error) {
  if (source.kind != SourceEntry::Kind::kPrometheus) {
    *error = source.name + " is an exporter: only a Prometheus keeps the past";
    return false;
  }
  const int count = static_cast<int>(std::floor((end - start) / step)) + 1;
  if (!(step > 0.0) || count < 2 || count > kMaxSteps) {
    *error =
        "the stretch must hold 2 to " + std::to_string(kMaxSteps) + " steps";
    return false;
  }
  const FleetQueries queries = MakeFleetQueries(
      source.selector, source.window.empty() ? "2m" : source.window);
  FetchSettings settings;
  settings.token = source.token;
  settings.user = source.user;
  settings.password = source.password;
  settings.verify_tls = source.verify_tls;
  settings.timeout_ms = 30000;
  std::vector<RangeSeries> answers[4];
  const std::string* asked[4] = {&queries.up, &queries.cpu, &queries.memory,
                                 &queries.disk};
  for (int i = 0; i < 4; ++i) {
    const HttpResponse response = fetcher.Get(MakeRequest(
        QueryUrl(source.url, "/api/v1/query_range", *asked[i]) + "&start=" +
            Number(start) + "&end=" + Number(end) + "&step=" + Number(step),
        settings, kMaxHistoryBytes));
    std::string problem = DescribeFailure(response);
    if (problem.empty() &&
        !ReadRangeAnswer(response.body, &answers[i], &problem)) {
      problem = "its answer: " + problem;
    }
    if (!problem.empty()) {
      *error = source.name + ": " + problem;
      return false;
    }
  }
  *samples = FleetHistory(answers[0], answers[1], answers[2], answers[3], start,
                          step, count);
  return true;
}

}  // namespace veska
