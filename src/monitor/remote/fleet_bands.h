// A fleet as voices: one per host while they fit, else bands of
// neighbouring hosts, each as loud as its busiest host.
#ifndef VESKA_MONITOR_REMOTE_FLEET_BANDS_H_
#define VESKA_MONITOR_REMOTE_FLEET_BANDS_H_

#include <cstddef>
#include <vector>

namespace veska {

inline constexpr std::size_t kMaxFleetVoices = 64;

// How many voices `hosts` hosts play as.
std::size_t FleetVoices(std::size_t hosts);

// The host loads (in host order; NaN for a host without a figure) folded
// into FleetVoices(loads.size()) voices. Band k holds hosts
// [k * n / v, (k + 1) * n / v); a band whose hosts all lack a figure has
// none either.
std::vector<double> BandFleet(const std::vector<double>& loads);

}  // namespace veska

#endif  // VESKA_MONITOR_REMOTE_FLEET_BANDS_H_
