#include "sound_stats.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "sound/mixer/sample_layout.h"

namespace veska::pack {
namespace {

double SampleAt(const uint8_t* p, SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::kUnsigned8:
      return (p[0] - 128) / 128.0;
    case SampleEncoding::kSigned16:
      return static_cast<int16_t>(p[0] | p[1] << 8) / 32768.0;
    case SampleEncoding::kSigned24: {
      int32_t v = p[0] | p[1] << 8 | p[2] << 16;
      if (v & 0x800000) v -= 0x1000000;
      return v / 8388608.0;
    }
    case SampleEncoding::kSigned32: {
      const uint32_t u =
          p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
      return static_cast<int32_t>(u) / 2147483648.0;
    }
    case SampleEncoding::kFloat32: {
      const uint32_t u =
          p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
      float f;
      std::memcpy(&f, &u, sizeof f);
      return std::isfinite(f) ? f : 0.0;
    }
  }
  return 0;
}

}  // namespace

double SoundStats::PeakDb() const {
  return peak > 0 ? 20 * std::log10(peak) : -200.0;
}

bool SoundStats::SeamClicks() const {
  // Below about -34 dBFS a jump is not heard over the sound itself.
  return seam_step > 0.02 && seam_step > 4 * typical_step;
}

std::optional<SoundStats> MeasureSound(const DecodedSound& sound) {
  const std::optional<SampleLayout> layout = ParseSampleLayout(sound.format);
  if (!layout || sound.data == nullptr) return std::nullopt;
  SoundStats stats;
  stats.frames = sound.size / layout->bytes_per_frame;
  stats.seconds =
      static_cast<double>(stats.frames) / sound.format.samples_per_sec;
  if (stats.frames == 0) return stats;

  const auto at = [&](uint32_t frame, int channel) {
    return SampleAt(sound.data + size_t(frame) * layout->bytes_per_frame +
                        size_t(channel) * layout->bytes_per_sample,
                    layout->encoding);
  };
  double step_squares = 0;
  for (int c = 0; c < layout->channels; ++c) {
    double previous = at(0, c);
    stats.peak = std::max(stats.peak, std::abs(previous));
    for (uint32_t i = 1; i < stats.frames; ++i) {
      const double v = at(i, c);
      stats.peak = std::max(stats.peak, std::abs(v));
      step_squares += (v - previous) * (v - previous);
      previous = v;
    }
    stats.seam_step = std::max(stats.seam_step, std::abs(at(0, c) - previous));
  }
  const double steps = double(stats.frames - 1) * layout->channels;
  stats.typical_step = steps > 0 ? std::sqrt(step_squares / steps) : 0;
  return stats;
}

}  // namespace veska::pack
