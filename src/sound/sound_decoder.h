// Turning a whole sound file image held in memory into PCM for the device.
#ifndef VESKA_SOUND_SOUND_DECODER_H_
#define VESKA_SOUND_SOUND_DECODER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "sound/sound_device.h"

namespace veska {

// A compressed-format decoder: a table of six operations over an instance.
struct SoundDecoder {
  // Null when the decoder does not accept the data.
  void* (*Open)(const uint8_t* data, uint32_t size);
  uint32_t (*Decode)(void* instance, uint8_t* output, uint32_t bytes);
  uint32_t (*Channels)(void* instance);
  // Sample frames per channel, low 32 bits.
  uint32_t (*Length)(void* instance);
  uint32_t (*SampleRate)(void* instance);
  void (*Close)(void* instance);
};

// The read side of an image for a decoder library; never owns the image.
struct MemorySource {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  uint32_t position = 0;
};

struct DecodedSound {
  WaveFormat format;
  const uint8_t* data = nullptr;  // inside the image, or into `owned`
  uint32_t size = 0;
  std::vector<uint8_t> owned;  // the block decoding made, if any
};

// Largest PCM block a compressed file decodes to.
inline constexpr uint32_t kMaxDecodedBytes = 64000000;

// False when the image is neither a usable WAV file nor accepted by one of
// `decoders`, tried in order.
bool DecodeSoundData(const uint8_t* image, uint32_t size,
                     const std::vector<SoundDecoder>& decoders,
                     DecodedSound* out);

}  // namespace veska

#endif  // VESKA_SOUND_SOUND_DECODER_H_
