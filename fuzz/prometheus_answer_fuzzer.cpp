// The query API's answers: JSON of any shape and depth, read or refused
// with a reason; a fleet made of what reads has at most the voice limit
// and only finite percentages.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/remote/fleet_bands.h"
#include "monitor/remote/prometheus_reader.h"
#include "monitor/remote/prometheus_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  std::vector<veska::InstantValue> values;
  std::string error;
  if (veska::ReadInstantAnswer(body, &values, &error) != error.empty()) {
    std::abort();
  }
  std::vector<veska::RangeSeries> series;
  std::string range_error;
  if (veska::ReadRangeAnswer(body, &series, &range_error) !=
      range_error.empty()) {
    std::abort();
  }
  for (const veska::InstantValue& value : values) {
    if (!std::isfinite(value.value)) std::abort();
  }
  const veska::RemoteSample sample =
      veska::FleetSample(values, values, values, values);
  if (sample.cores.size() > veska::kMaxFleetVoices ||
      sample.hosts_answering > sample.hosts_total) {
    std::abort();
  }
  for (double core : sample.cores) {
    if (!std::isnan(core) && !(core >= 0.0 && core <= 100.0)) std::abort();
  }
  return 0;
}
