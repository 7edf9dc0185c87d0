#include "sound/mixer/sample_layout.h"

#include <array>
#include <cstring>

namespace veska {
namespace {

// The extensible format's extra bytes: valid bits (2), channel mask (4),
// subformat GUID (16). The subformat's first four bytes carry the plain tag;
// the other twelve are the same for every standard subformat.
constexpr size_t kExtensibleBytes = 22;
constexpr size_t kSubformatOffset = 6;
constexpr std::array<uint8_t, 12> kSubformatTail = {
    0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t ReadLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}

bool SubformatAt(const std::vector<uint8_t>& extra, size_t base, uint16_t* tag,
                 uint16_t* valid_bits) {
  if (extra.size() < base + kExtensibleBytes) return false;
  const uint8_t* guid = extra.data() + base + kSubformatOffset;
  if (std::memcmp(guid + 4, kSubformatTail.data(), kSubformatTail.size()) != 0)
    return false;
  uint32_t sub_tag = ReadLe32(guid);
  if (sub_tag > 0xFFFF) return false;
  *tag = uint16_t(sub_tag);
  *valid_bits = ReadLe16(extra.data() + base);
  return true;
}

// Readers differ on whether the stored size field (cbSize) is kept at the
// front of the extra bytes; the GUID tells which layout it is.
bool ExtensibleSubformat(const std::vector<uint8_t>& extra, uint16_t* tag,
                         uint16_t* valid_bits) {
  if (SubformatAt(extra, 0, tag, valid_bits)) return true;
  return extra.size() >= 2 && ReadLe16(extra.data()) >= kExtensibleBytes &&
         SubformatAt(extra, 2, tag, valid_bits);
}

}  // namespace

std::optional<SampleLayout> ParseSampleLayout(const WaveFormat& format) {
  if (format.channels < 1 || format.channels > 2) return std::nullopt;
  if (format.samples_per_sec < kMinFrequency ||
      format.samples_per_sec > kMaxFrequency)
    return std::nullopt;

  uint16_t tag = format.format_tag;
  const uint16_t bits = format.bits_per_sample;
  if (tag == kWaveFormatExtensible) {
    uint16_t valid_bits = 0;
    if (!ExtensibleSubformat(format.extra, &tag, &valid_bits))
      return std::nullopt;
    if (valid_bits > bits) return std::nullopt;
  }

  SampleLayout layout;
  if (tag == kWaveFormatPcm) {
    switch (bits) {
      case 8:
        layout.encoding = SampleEncoding::kUnsigned8;
        break;
      case 16:
        layout.encoding = SampleEncoding::kSigned16;
        break;
      case 24:
        layout.encoding = SampleEncoding::kSigned24;
        break;
      case 32:
        layout.encoding = SampleEncoding::kSigned32;
        break;
      default:
        return std::nullopt;
    }
  } else if (tag == kWaveFormatIeeeFloat && bits == 32) {
    layout.encoding = SampleEncoding::kFloat32;
  } else {
    return std::nullopt;
  }

  layout.channels = format.channels;
  layout.bytes_per_sample = uint16_t(bits / 8);
  layout.bytes_per_frame = uint16_t(layout.bytes_per_sample * layout.channels);
  if (format.block_align != layout.bytes_per_frame) return std::nullopt;
  return layout;
}

}  // namespace veska
