#include "sound/wav_reader.h"

#include <cstring>

namespace veska {
namespace {

// Chunks start after "RIFF", the RIFF size and the form type, unexamined.
constexpr uint64_t kFirstChunk = 12;
constexpr uint64_t kChunkHeader = 8;
constexpr uint32_t kWaveFormatBytes = 16;  // without the extra-size count

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

struct Chunk {
  uint64_t body = 0;  // offset of the body in the image
  uint32_t size = 0;  // stored body size; may claim more than the image has
};

// Walks from `*offset` to the first chunk called `id` and leaves `*offset`
// at the chunk after it. Offsets are 64-bit so a huge stored size cannot wrap.
bool FindChunk(const uint8_t* image, uint32_t size, const char* id,
               uint64_t* offset, Chunk* chunk) {
  while (*offset + kChunkHeader <= size) {
    const uint8_t* header = image + *offset;
    const uint32_t body_size = ReadU32(header + 4);
    const uint64_t body = *offset + kChunkHeader;
    *offset = body + body_size + (body_size & 1u);
    if (std::memcmp(header, id, 4) == 0) {
      chunk->body = body;
      chunk->size = body_size;
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsRiffImage(const uint8_t* image, uint32_t size) {
  return image != nullptr && size >= 4 && std::memcmp(image, "RIFF", 4) == 0;
}

bool ReadWaveImage(const uint8_t* image, uint32_t size, DecodedSound* out) {
  if (!IsRiffImage(image, size)) return false;
  uint64_t offset = kFirstChunk;
  Chunk fmt;
  if (!FindChunk(image, size, "fmt ", &offset, &fmt)) return false;
  if (fmt.size < kWaveFormatBytes || fmt.body + fmt.size > size) return false;
  Chunk data;
  if (!FindChunk(image, size, "data", &offset, &data)) return false;

  const uint8_t* f = image + fmt.body;
  WaveFormat format;
  format.format_tag = ReadU16(f);
  format.channels = ReadU16(f + 2);
  format.samples_per_sec = ReadU32(f + 4);
  format.avg_bytes_per_sec = ReadU32(f + 8);
  format.block_align = ReadU16(f + 12);
  format.bits_per_sample = ReadU16(f + 14);
  if (fmt.size >= kWaveFormatBytes + 2) {
    // Only the extra bytes the chunk really holds; a larger count is cut.
    uint32_t extra = ReadU16(f + 16);
    const uint32_t present = fmt.size - kWaveFormatBytes - 2;
    if (extra > present) extra = present;
    format.extra.assign(f + 18, f + 18 + extra);
  }

  // A data chunk that claims more than the image holds keeps what is there.
  const uint64_t left = size - data.body;
  out->format = std::move(format);
  out->data = image + data.body;
  out->size = static_cast<uint32_t>(data.size < left ? data.size : left);
  out->owned.clear();
  return true;
}

}  // namespace veska
