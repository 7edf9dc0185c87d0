// The software sound device: every playing buffer resampled to the output
// rate and mixed into interleaved float stereo. An output (SDL on Linux)
// pulls the mix from its audio thread; tests and recorders call Render
// directly on a mixer with no output attached.
#ifndef VESKA_SOUND_MIXER_MIXER_H_
#define VESKA_SOUND_MIXER_MIXER_H_

#include <cstdint>
#include <memory>

#include "sound/sound_device.h"

namespace veska {

namespace mixer_internal {
class MixerCore;
}

class SoftwareMixer : public SoundDevice {
 public:
  static constexpr uint32_t kDefaultOutputRate = 48000;
  static constexpr uint32_t kMinOutputRate = 8000;
  static constexpr uint32_t kMaxOutputRate = 384000;

  // A rate outside kMinOutputRate..kMaxOutputRate falls back to the default.
  explicit SoftwareMixer(uint32_t output_rate = kDefaultOutputRate);
  ~SoftwareMixer() override;
  SoftwareMixer(const SoftwareMixer&) = delete;
  SoftwareMixer& operator=(const SoftwareMixer&) = delete;

  // False, and the rate unchanged, outside kMinOutputRate..kMaxOutputRate.
  bool SetOutputRate(uint32_t hz);
  uint32_t OutputRate() const;

  // Nothing to open: a bare mixer is always ready to render offline.
  bool Open() override { return true; }
  std::unique_ptr<SoundBuffer> CreateBuffer(const WaveFormat& format,
                                            const uint8_t* data,
                                            uint32_t size) override;
  void Close() override {}

  // Writes `frames` frames of interleaved left/right float into `out`,
  // overwriting it. The mix is not clipped. Never allocates; holds the list
  // lock only in short slices.
  void Render(float* out, uint32_t frames);
  // Render, clamped to -1..1: many loud voices can sum past full scale, and
  // an output is handed a clean range.
  void RenderClamped(float* out, uint32_t frames);

  // Frames rendered since construction.
  uint64_t RenderedFrames() const;

 private:
  std::shared_ptr<mixer_internal::MixerCore> core_;
};

}  // namespace veska

#endif  // VESKA_SOUND_MIXER_MIXER_H_
