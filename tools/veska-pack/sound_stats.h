// What an author needs to know about one decoded sound: its length, its peak
// and whether its loop clicks where the end meets the beginning.
#ifndef VESKA_TOOLS_VESKA_PACK_SOUND_STATS_H_
#define VESKA_TOOLS_VESKA_PACK_SOUND_STATS_H_

#include <cstdint>
#include <optional>

#include "sound/sound_decoder.h"

namespace veska::pack {

struct SoundStats {
  uint32_t frames = 0;
  double seconds = 0;
  // Largest sample, full scale 1.
  double peak = 0;
  // The step from the last frame back to the first, the largest over the
  // channels, and the root mean square of the steps inside the loop.
  double seam_step = 0;
  double typical_step = 0;

  double PeakDb() const;
  // A seam step well above anything inside the loop is heard as a click.
  bool SeamClicks() const;
};

// Nothing when the mixer cannot play the sound's format.
std::optional<SoundStats> MeasureSound(const DecodedSound& sound);

}  // namespace veska::pack

#endif  // VESKA_TOOLS_VESKA_PACK_SOUND_STATS_H_
