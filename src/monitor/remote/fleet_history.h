// What a fleet did over a stretch of the past, from the metrics server's
// range queries: one sample per step, made as the live source makes them.
#ifndef VESKA_MONITOR_REMOTE_FLEET_HISTORY_H_
#define VESKA_MONITOR_REMOTE_FLEET_HISTORY_H_

#include <string>
#include <vector>

#include "monitor/remote/http_fetcher.h"
#include "monitor/remote/prometheus_reader.h"
#include "monitor/remote/remote_sample.h"
#include "monitor/remote/sources_file.h"

namespace veska {

// The samples at start, start + step, ... (`count` of them) from the range
// answers of the four fleet queries. Every host seen anywhere in `up` is a
// host throughout, silent where it did not answer, so the voices stay the
// same across the stretch.
std::vector<RemoteSample> FleetHistory(const std::vector<RangeSeries>& up,
                                       const std::vector<RangeSeries>& cpu,
                                       const std::vector<RangeSeries>& memory,
                                       const std::vector<RangeSeries>& disk,
                                       double start, double step, int count);

// Asks `source`'s server for the stretch [start, end] (seconds since the
// epoch) at `step` seconds. False with `error` said for the user.
bool FetchFleetHistory(HttpFetcher& fetcher, const SourceEntry& source,
                       double start, double end, double step,
                       std::vector<RemoteSample>* samples, std::string* error);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_FLEET_HISTORY_H_
