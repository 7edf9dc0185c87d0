// Building sound file images byte by byte for the tests.
#ifndef VESKA_TESTS_SUPPORT_WAVE_IMAGE_H_
#define VESKA_TESTS_SUPPORT_WAVE_IMAGE_H_

#include <cstdint>
#include <vector>

namespace veska::testing {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes* out, uint16_t v);
void PutU32(Bytes* out, uint32_t v);
// Id, stored size (defaults to the body's), body, pad byte when odd.
void PutChunk(Bytes* out, const char* id, const Bytes& body);
void PutChunkWithSize(Bytes* out, const char* id, uint32_t stored_size,
                      const Bytes& body);

// A 16-byte "fmt " body with any format tag.
Bytes FormatBody(uint16_t format_tag, uint16_t channels, uint32_t rate,
                 uint16_t bits);
// The same for PCM.
Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits);
// "RIFF", size, "WAVE", then the chunks as given.
Bytes Riff(const Bytes& chunks);
// A plain PCM WAV file holding `pcm`.
Bytes PcmWave(uint16_t channels, uint32_t rate, uint16_t bits,
              const Bytes& pcm);
// Interleaved 16-bit samples as stored: little-endian.
Bytes Pcm16(const std::vector<int32_t>& samples);

}  // namespace veska::testing

#endif  // VESKA_TESTS_SUPPORT_WAVE_IMAGE_H_
