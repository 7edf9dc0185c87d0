#include "sound/wav_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace veska {
namespace {

// Chunks start after "RIFF", the RIFF size and the form type, unexamined.
constexpr uint64_t kFirstChunk = 12;
constexpr uint32_t kChunkHeader = 8;
constexpr uint32_t kWaveFormatBytes = 16;  // without the extra-size count
// The extra-size count is 16 bits, so no format uses more than this.
constexpr uint32_t kMaxFormatBytes = kWaveFormatBytes + 2 + 0xFFFF;

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

struct Chunk {
  uint64_t body = 0;  // offset of the body in the file
  uint32_t size = 0;  // stored body size; may claim more than the file has
};

// Walks from `*offset` to the first chunk called `id` and leaves `*offset`
// at the chunk after it. Offsets are 64-bit so a huge stored size cannot
// wrap. `*budget` counts down the chunk headers still allowed.
bool FindChunk(uint64_t size, const WaveFileReader& read, const char* id,
               uint64_t* offset, uint32_t* budget, Chunk* chunk) {
  uint8_t header[kChunkHeader];
  for (; *offset + kChunkHeader <= size && *budget > 0; --*budget) {
    if (!read(*offset, header, kChunkHeader)) return false;
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

// The "fmt " chunk, then the first "data" chunk after it.
bool FindWaveChunks(uint64_t size, const WaveFileReader& read, Chunk* fmt,
                    Chunk* data) {
  uint64_t offset = kFirstChunk;
  uint32_t budget = kMaxWaveChunks;
  if (!FindChunk(size, read, "fmt ", &offset, &budget, fmt)) return false;
  if (fmt->size < kWaveFormatBytes || fmt->body + fmt->size > size) {
    return false;
  }
  return FindChunk(size, read, "data", &offset, &budget, data);
}

// `f` holds the first `size` bytes of the "fmt " body, at least 16.
WaveFormat ParseFormat(const uint8_t* f, uint32_t size) {
  WaveFormat format;
  format.format_tag = ReadU16(f);
  format.channels = ReadU16(f + 2);
  format.samples_per_sec = ReadU32(f + 4);
  format.avg_bytes_per_sec = ReadU32(f + 8);
  format.block_align = ReadU16(f + 12);
  format.bits_per_sample = ReadU16(f + 14);
  if (size >= kWaveFormatBytes + 2) {
    // Only the extra bytes the chunk really holds; a larger count is cut.
    uint32_t extra = ReadU16(f + 16);
    const uint32_t present = size - kWaveFormatBytes - 2;
    if (extra > present) extra = present;
    format.extra.assign(f + 18, f + 18 + extra);
  }
  return format;
}

// The data bytes kept: those present, at most the cap in whole sample frames.
uint32_t KeptDataBytes(const Chunk& data, uint64_t size,
                       const WaveFormat& format) {
  const uint64_t present = std::min<uint64_t>(data.size, size - data.body);
  if (present <= kMaxDecodedBytes) return static_cast<uint32_t>(present);
  const uint32_t frame = format.block_align > 0 ? format.block_align : 1;
  return kMaxDecodedBytes - kMaxDecodedBytes % frame;
}

}  // namespace

bool IsRiffImage(const uint8_t* image, uint32_t size) {
  return image != nullptr && size >= 4 && std::memcmp(image, "RIFF", 4) == 0;
}

bool ReadWaveImage(const uint8_t* image, uint32_t size, DecodedSound* out) {
  if (!IsRiffImage(image, size)) return false;
  const WaveFileReader read = [image, size](uint64_t offset, uint8_t* to,
                                            uint32_t bytes) {
    if (offset > size || bytes > size - offset) return false;
    std::memcpy(to, image + offset, bytes);
    return true;
  };
  Chunk fmt;
  Chunk data;
  if (!FindWaveChunks(size, read, &fmt, &data)) return false;
  out->format = ParseFormat(image + fmt.body, fmt.size);
  out->data = image + data.body;
  out->size = KeptDataBytes(data, size, out->format);
  out->owned.clear();
  return true;
}

bool ReadWaveFile(uint64_t size, const WaveFileReader& read,
                  DecodedSound* out) {
  Chunk fmt;
  Chunk data;
  if (!FindWaveChunks(size, read, &fmt, &data)) return false;
  try {
    std::vector<uint8_t> format_bytes(std::min(fmt.size, kMaxFormatBytes));
    if (!read(fmt.body, format_bytes.data(),
              static_cast<uint32_t>(format_bytes.size()))) {
      return false;
    }
    WaveFormat format = ParseFormat(format_bytes.data(),
                                    static_cast<uint32_t>(format_bytes.size()));
    const uint32_t kept = KeptDataBytes(data, size, format);
    PcmBlock block(kept);
    if (kept > 0 && !read(data.body, block.data(), kept)) return false;
    out->format = std::move(format);
    out->owned = std::move(block);
  } catch (const std::bad_alloc&) {
    return false;
  }
  out->data = out->owned.data();
  out->size = static_cast<uint32_t>(out->owned.size());
  return true;
}

}  // namespace veska
