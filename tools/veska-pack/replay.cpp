#include "replay.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "monitor/remote/fleet_history.h"

namespace veska::pack {
namespace {

// Each step of the past lasts this long in the rendering, at least a
// second of the past: finer than the main loop's refresh would be lost.
constexpr double kRenderedStepSeconds = 0.25;
constexpr double kMaxRenderedSeconds = 600;

double Percent(double value) { return std::isnan(value) ? 0.0 : value; }

}  // namespace

std::optional<double> ParseDuration(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end == text.c_str() || !(value > 0) ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  const std::string unit(end);
  const double scale = unit.empty() || unit == "s" ? 1
                       : unit == "m"               ? 60
                       : unit == "h"               ? 3600
                       : unit == "d"               ? 86400
                                                   : 0;
  if (scale == 0) return std::nullopt;
  return value * scale;
}

std::vector<LoadPoint> ReplayPoints(const std::vector<RemoteSample>& samples) {
  std::vector<LoadPoint> points;
  for (const RemoteSample& sample : samples) {
    LoadPoint point;
    for (double core : sample.cores) point.cores.push_back(Percent(core));
    point.ram = Percent(sample.memory_used * 100.0);
    point.disk = Percent(sample.disk);
    points.push_back(point);
  }
  return points;
}

bool FetchReplay(HttpFetcher& fetcher, const SourceEntry& source, double now_s,
                 double range_s, double speed, Replay* replay,
                 std::string* error) {
  if (range_s / speed > kMaxRenderedSeconds) {
    *error =
        "the replay would last longer than ten minutes: a shorter "
        "--range or a higher --speed";
    return false;
  }
  const double step = std::max(1.0, speed * kRenderedStepSeconds);
  std::vector<RemoteSample> samples;
  if (!FetchFleetHistory(fetcher, source, now_s - range_s, now_s, step,
                         &samples, error)) {
    return false;
  }
  const std::vector<LoadPoint> points = ReplayPoints(samples);
  if (points.empty() || points[0].cores.empty()) {
    *error = source.name + ": no host answered in that stretch";
    return false;
  }
  replay->voices = static_cast<int>(points[0].cores.size());
  replay->script = LoadScript::FromPoints(points, step / speed);
  return true;
}

}  // namespace veska::pack
