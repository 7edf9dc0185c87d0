// Turning a whole sound file image held in memory into PCM for the device.
#ifndef VESKA_SOUND_SOUND_DECODER_H_
#define VESKA_SOUND_SOUND_DECODER_H_

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
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

// Leaves new elements uninitialized: a decoded block is written once by the
// decoder, and zeroing megabytes first would cost as much again.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) {}
  template <typename U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using PcmBlock = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

struct DecodedSound {
  WaveFormat format;
  const uint8_t* data = nullptr;  // inside the image, or into `owned`
  uint32_t size = 0;
  PcmBlock owned;  // the block decoding made, if any
};

// Largest PCM block a compressed file decodes to, and most data kept of a
// WAV file.
inline constexpr uint32_t kMaxDecodedBytes = 64000000;

// False when the image is neither a usable WAV file nor accepted by one of
// `decoders`, tried in order.
bool DecodeSoundData(const uint8_t* image, uint32_t size,
                     const std::vector<SoundDecoder>& decoders,
                     DecodedSound* out);

}  // namespace veska

#endif  // VESKA_SOUND_SOUND_DECODER_H_
