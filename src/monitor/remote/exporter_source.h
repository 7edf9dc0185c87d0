// One remote host read from its exporter's metrics page, played like this
// computer: busy shares per core from the time counters of two successive
// scrapes, the memory in use, and the disks' busy time. Both the Linux and
// the Windows exporter's metric names are understood.
#ifndef VESKA_MONITOR_REMOTE_EXPORTER_SOURCE_H_
#define VESKA_MONITOR_REMOTE_EXPORTER_SOURCE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "monitor/remote/exposition_parser.h"
#include "monitor/remote/remote_sample.h"

namespace veska {

// The counters of one scrape, in seconds, cores in the exporter's order.
struct HostCounters {
  struct Core {
    double idle = 0.0;
    double total = 0.0;
  };
  std::vector<Core> cores;
  std::optional<double> memory_total, memory_available;  // bytes
  // Summed over the disks: seconds with I/O in flight, or idle seconds where
  // the exporter counts those instead.
  std::optional<double> disk_seconds;
  bool disk_counts_idle = false;
  int disks = 0;
};

HostCounters ReadHostCounters(const std::vector<MetricSample>& samples);

// Whether the parser needs to keep a metric of this name.
bool IsHostMetric(std::string_view name);

// What two scrapes `elapsed_s` apart say; a core whose counters went back
// (the exporter restarted) has no figure this time.
RemoteSample HostRates(const HostCounters& before, const HostCounters& now,
                       double elapsed_s);

class ExporterSource : public RemoteSource {
 public:
  // Seconds on a steady clock, for the disk's share of wall time.
  using Clock = std::function<double()>;

  explicit ExporterSource(std::string url, Clock clock = {});
  RemoteSample Fetch(HttpFetcher& fetcher,
                     const FetchSettings& settings) override;

 private:
  std::string url_;
  Clock clock_;
  std::optional<HostCounters> last_;
  double last_time_ = 0.0;
};

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_EXPORTER_SOURCE_H_
