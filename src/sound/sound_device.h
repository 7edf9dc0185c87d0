// The platform sound device, shaped after what the sound engine asks of it:
// one static buffer per sound, filled once, played once or looped from its
// first byte, with volume, pan and playback frequency control.
#ifndef VESKA_SOUND_SOUND_DEVICE_H_
#define VESKA_SOUND_SOUND_DEVICE_H_

#include <cstdint>
#include <memory>
#include <vector>

namespace veska {

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatIeeeFloat = 3;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// A wave format as stored in a "fmt " chunk (little-endian WAVEFORMATEX),
// with the extra bytes that follow it where the format has them.
struct WaveFormat {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  std::vector<uint8_t> extra;
};

// Limits of a buffer's playback frequency; a value outside is refused.
inline constexpr uint32_t kMinFrequency = 100;
inline constexpr uint32_t kMaxFrequency = 200000;

// Device units.
inline constexpr int32_t kVolumeSilent = -10000;  // hundredths of a dB
inline constexpr int32_t kVolumeFull = 0;
inline constexpr int32_t kPanLeft = -10000;
inline constexpr int32_t kPanRight = 10000;

class SoundBuffer {
 public:
  virtual ~SoundBuffer() = default;

  // Plays from the current position; with `loop` it wraps to the first byte
  // at the end until stopped, otherwise it stops at the end.
  virtual bool Play(bool loop) = 0;
  virtual bool Stop() = 0;
  virtual bool SetCurrentPosition(uint32_t byte_offset) = 0;
  // Hundredths of a decibel, kVolumeSilent..kVolumeFull.
  virtual bool SetVolume(int32_t volume) = 0;
  // kPanLeft..kPanRight: the attenuation of the other channel in hundredths
  // of a decibel, signed by the side that stays.
  virtual bool SetPan(int32_t pan) = 0;
  // Hz; outside kMinFrequency..kMaxFrequency refused and left as it was.
  virtual bool SetFrequency(uint32_t hz) = 0;
  virtual bool GetFrequency(uint32_t* hz) = 0;
  // A new buffer sharing this one's sound data, with a position, volume, pan
  // and frequency of its own that start as CreateBuffer starts them; null
  // when the device cannot share, and the data must be created again.
  virtual std::unique_ptr<SoundBuffer> Duplicate() { return nullptr; }
};

class SoundDevice {
 public:
  virtual ~SoundDevice() = default;

  // Opens the default output; false when there is none.
  virtual bool Open() = 0;
  // A stopped buffer at position 0 holding a copy of `data`, at full volume,
  // centre pan and the format's rate; null when the format or size is
  // refused (a size of 0 included).
  virtual std::unique_ptr<SoundBuffer> CreateBuffer(const WaveFormat& format,
                                                    const uint8_t* data,
                                                    uint32_t size) = 0;
  // Every buffer has been destroyed before this is called.
  virtual void Close() = 0;
};

}  // namespace veska

#endif  // VESKA_SOUND_SOUND_DEVICE_H_
