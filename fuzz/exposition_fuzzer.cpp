// The exporter page parser and the rates of two scrapes: text of any shape,
// read whole or refused; every figure that comes out is a finite percentage
// or share, or no figure at all.
//
// Input: the first page, a NUL byte, the second page.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "monitor/remote/exporter_source.h"
#include "monitor/remote/exposition_parser.h"

namespace {

void CheckShare(double value, double most) {
  if (!std::isnan(value) && !(value >= 0.0 && value <= most)) std::abort();
}

veska::HostCounters Read(std::string_view page) {
  std::vector<veska::MetricSample> all, kept;
  const bool read_all = veska::ParseExposition(page, {}, &all);
  const bool read_kept =
      veska::ParseExposition(page, veska::IsHostMetric, &kept);
  // Keeping fewer names never refuses a page that reads whole.
  if (read_all && (!read_kept || kept.size() > all.size())) std::abort();
  return veska::ReadHostCounters(kept);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view first = input.substr(0, split);
  const std::string_view second =
      split == std::string_view::npos ? first : input.substr(split + 1);
  const veska::RemoteSample sample =
      veska::HostRates(Read(first), Read(second), 1.0);
  for (double core : sample.cores) CheckShare(core, 100.0);
  CheckShare(sample.cpu_total, 100.0);
  CheckShare(sample.disk, 100.0);
  CheckShare(sample.memory_used, 1.0);
  return 0;
}
