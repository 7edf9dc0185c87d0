// Turning a sound file, in memory or read as it goes, into PCM for the device.
#ifndef VESKA_SOUND_SOUND_DECODER_H_
#define VESKA_SOUND_SOUND_DECODER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "sound/sound_device.h"

namespace veska {

// Reads `bytes` bytes at `offset` into `to`; false unless all could be read.
using FileReader =
    std::function<bool(uint64_t offset, uint8_t* to, uint32_t bytes)>;

// A sound file for a decoder: an image in memory, or, where `data` is null,
// a file of `size` bytes that `read` fetches as the decoder asks, so that
// no more of it is read than the decoder takes. Never owned.
struct SoundSource {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  const FileReader* read = nullptr;
};

// A compressed-format decoder: a table of six operations over an instance.
struct SoundDecoder {
  // Null when the decoder does not accept the data. The source outlives
  // the instance.
  void* (*Open)(const SoundSource& source);
  uint32_t (*Decode)(void* instance, uint8_t* output, uint32_t bytes);
  uint32_t (*Channels)(void* instance);
  // Sample frames per channel, low 32 bits.
  uint32_t (*Length)(void* instance);
  uint32_t (*SampleRate)(void* instance);
  void (*Close)(void* instance);
};

// The read side of a source for a decoder library.
struct SourceCursor {
  SoundSource source;
  uint32_t position = 0;
  // Up to `bytes` bytes from the position on, which moves past them; how
  // many (0 at the end, or when the file cannot be read).
  size_t Read(void* to, size_t bytes);
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

// The same for a source that is not a WAV file.
bool DecodeSoundSource(const SoundSource& source,
                       const std::vector<SoundDecoder>& decoders,
                       DecodedSound* out);

}  // namespace veska

#endif  // VESKA_SOUND_SOUND_DECODER_H_
