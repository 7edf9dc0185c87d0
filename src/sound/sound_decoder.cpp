#include "sound/sound_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "sound/wav_reader.h"

namespace veska {
namespace {

// Step by which a block grows when the decoder cannot tell the length.
constexpr uint32_t kGrowStep = 1u << 20;

// Bytes for `frames` sample frames, cut at the cap to whole sample frames so
// that the block always agrees with the format's block align.
uint32_t BlockBytes(uint64_t frames, uint32_t frame_bytes) {
  const uint64_t cap = kMaxDecodedBytes - kMaxDecodedBytes % frame_bytes;
  return static_cast<uint32_t>(std::min<uint64_t>(frames * frame_bytes, cap));
}

// Decodes an instance whose length is unknown in steps into a growing block.
void DecodeGrowing(const SoundDecoder& decoder, void* instance,
                   uint32_t frame_bytes, PcmBlock* block) {
  const uint32_t cap = BlockBytes(UINT32_MAX, frame_bytes);
  uint32_t written = 0;
  while (written < cap) {
    const uint32_t want = std::min<uint32_t>(
        cap - written, std::max<uint32_t>(kGrowStep, written));
    block->resize(written + want);
    const uint32_t got =
        std::min(want, decoder.Decode(instance, block->data() + written, want));
    written += got;
    if (got < want) break;
  }
  block->resize(written - written % frame_bytes);
  block->shrink_to_fit();  // the last step may have been mostly unused
}

bool DecodeWhole(const SoundDecoder& decoder, void* instance,
                 DecodedSound* out) {
  const uint32_t channels = decoder.Channels(instance);
  const uint32_t rate = decoder.SampleRate(instance);
  // The format's fields are 16 bits; no device plays more channels anyway.
  if (channels == 0 || channels > 0xFFFF / 2) return false;
  const uint32_t frame_bytes = channels * 2;
  const uint32_t length = decoder.Length(instance);

  PcmBlock block;
  if (length == 0) {
    DecodeGrowing(decoder, instance, frame_bytes, &block);
  } else {
    block.resize(BlockBytes(length, frame_bytes));
    const uint32_t size = static_cast<uint32_t>(block.size());
    const uint32_t written =
        std::min(size, decoder.Decode(instance, block.data(), size));
    // The stated length is only a claim (a header may say hours and hold
    // seconds): the sound, and so its loop, is as long as what decoded.
    if (written < size) {
      block.resize(written - written % frame_bytes);
      block.shrink_to_fit();
    }
  }

  out->format = WaveFormat{};
  out->format.format_tag = kWaveFormatPcm;
  out->format.channels = static_cast<uint16_t>(channels);
  out->format.samples_per_sec = rate;
  out->format.avg_bytes_per_sec = rate * frame_bytes;
  out->format.block_align = static_cast<uint16_t>(frame_bytes);
  out->format.bits_per_sample = 16;
  out->owned = std::move(block);
  out->data = out->owned.data();
  out->size = static_cast<uint32_t>(out->owned.size());
  return true;
}

}  // namespace

size_t SourceCursor::Read(void* to, size_t bytes) {
  const uint32_t left = position < source.size ? source.size - position : 0;
  const auto count = static_cast<uint32_t>(std::min<size_t>(bytes, left));
  if (count == 0) return 0;
  if (source.data != nullptr) {
    std::memcpy(to, source.data + position, count);
  } else if (source.read == nullptr ||
             !(*source.read)(position, static_cast<uint8_t*>(to), count)) {
    return 0;
  }
  position += count;
  return count;
}

bool DecodeSoundData(const uint8_t* image, uint32_t size,
                     const std::vector<SoundDecoder>& decoders,
                     DecodedSound* out) {
  if (out == nullptr) return false;
  *out = DecodedSound{};
  if (image == nullptr) return false;
  if (IsRiffImage(image, size)) return ReadWaveImage(image, size, out);
  return DecodeSoundSource({image, size, nullptr}, decoders, out);
}

bool DecodeSoundSource(const SoundSource& source,
                       const std::vector<SoundDecoder>& decoders,
                       DecodedSound* out) {
  if (out == nullptr) return false;
  *out = DecodedSound{};
  if (source.data == nullptr && source.read == nullptr) return false;
  for (const SoundDecoder& decoder : decoders) {
    void* instance = decoder.Open(source);
    if (instance == nullptr) continue;
    bool ok = false;
    try {
      ok = DecodeWhole(decoder, instance, out);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    decoder.Close(instance);
    if (!ok) *out = DecodedSound{};
    return ok;
  }
  return false;
}

}  // namespace veska
