// How the mixer reads the frames of a buffer: which sample encodings it plays
// and how a stored wave format maps onto one.
#ifndef VESKA_SOUND_MIXER_SAMPLE_LAYOUT_H_
#define VESKA_SOUND_MIXER_SAMPLE_LAYOUT_H_

#include <cstdint>
#include <optional>

#include "sound/sound_device.h"

namespace veska {

enum class SampleEncoding {
  kUnsigned8,
  kSigned16,
  kSigned24,
  kSigned32,
  kFloat32,
};

struct SampleLayout {
  SampleEncoding encoding = SampleEncoding::kSigned16;
  uint16_t channels = 0;
  uint16_t bytes_per_sample = 0;
  uint16_t bytes_per_frame = 0;
};

// The layout of a playable format, or nothing when the mixer cannot play it:
// an unknown tag or subformat, other than one or two channels, a block align
// that does not match, or a rate outside kMinFrequency..kMaxFrequency.
std::optional<SampleLayout> ParseSampleLayout(const WaveFormat& format);

}  // namespace veska

#endif  // VESKA_SOUND_MIXER_SAMPLE_LAYOUT_H_
