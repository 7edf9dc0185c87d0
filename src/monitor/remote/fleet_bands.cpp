#include "monitor/remote/fleet_bands.h"

#include <algorithm>
#include <cmath>

#include "monitor/remote/remote_sample.h"

namespace veska {

std::size_t FleetVoices(std::size_t hosts) {
  return std::min(hosts, kMaxFleetVoices);
}

std::vector<double> BandFleet(const std::vector<double>& loads) {
  const std::size_t hosts = loads.size();
  const std::size_t voices = FleetVoices(hosts);
  std::vector<double> bands(voices, kNoData);
  for (std::size_t k = 0; k < voices; ++k) {
    const std::size_t first = k * hosts / voices;
    const std::size_t end = (k + 1) * hosts / voices;
    for (std::size_t h = first; h < end; ++h) {
      if (std::isnan(loads[h])) continue;
      bands[k] = std::isnan(bands[k]) ? loads[h] : std::max(bands[k], loads[h]);
    }
  }
  return bands;
}

}  // namespace veska
