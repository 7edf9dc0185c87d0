// A fleet read from a metrics server's query API: every instance the
// selector matches is one "core", in the order of the instance names; the
// server does the arithmetic, so the cost here stays that of four short
// answers whatever the fleet's size.
#ifndef VESKA_MONITOR_REMOTE_PROMETHEUS_SOURCE_H_
#define VESKA_MONITOR_REMOTE_PROMETHEUS_SOURCE_H_

#include <string>
#include <string_view>
#include <vector>

#include "monitor/remote/prometheus_reader.h"
#include "monitor/remote/remote_sample.h"

namespace veska {

// The queries asked every refresh, for a selector such as `job="node"` ("",
// all series) and a rate window such as "2m".
struct FleetQueries {
  std::string up;
  std::string cpu;
  std::string memory;
  std::string disk;
};
FleetQueries MakeFleetQueries(std::string_view selector,
                              std::string_view window);

// `base` with the query API's path and the query percent-encoded.
std::string QueryUrl(std::string_view base, std::string_view path,
                     std::string_view query);

// The sample the four answers make: hosts from `up` in instance order, a
// host that does not answer silent at once, one with no figure yet silent
// too; the voices are the hosts, banded past the voice limit.
RemoteSample FleetSample(const std::vector<InstantValue>& up,
                         const std::vector<InstantValue>& cpu,
                         const std::vector<InstantValue>& memory,
                         const std::vector<InstantValue>& disk);

class PrometheusSource : public RemoteSource {
 public:
  PrometheusSource(std::string base_url, std::string selector,
                   std::string window);
  RemoteSample Fetch(HttpFetcher& fetcher,
                     const FetchSettings& settings) override;

 private:
  // False with `problem` set when the answer is unusable.
  bool Ask(HttpFetcher& fetcher, const FetchSettings& settings,
           const std::string& query, std::vector<InstantValue>* values,
           std::string* problem);

  std::string base_url_;
  FleetQueries queries_;
};

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_PROMETHEUS_SOURCE_H_
