#include "wave_image.h"

namespace veska::testing {

void PutU16(Bytes* out, uint16_t v) {
  out->push_back(v & 0xFF);
  out->push_back(v >> 8);
}

void PutU32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back((v >> (8 * i)) & 0xFF);
}

void PutChunkWithSize(Bytes* out, const char* id, uint32_t stored_size,
                      const Bytes& body) {
  out->insert(out->end(), id, id + 4);
  PutU32(out, stored_size);
  out->insert(out->end(), body.begin(), body.end());
  if (body.size() % 2 == 1) out->push_back(0);
}

void PutChunk(Bytes* out, const char* id, const Bytes& body) {
  PutChunkWithSize(out, id, static_cast<uint32_t>(body.size()), body);
}

Bytes FormatBody(uint16_t format_tag, uint16_t channels, uint32_t rate,
                 uint16_t bits) {
  Bytes fmt;
  PutU16(&fmt, format_tag);
  PutU16(&fmt, channels);
  PutU32(&fmt, rate);
  PutU32(&fmt, rate * channels * bits / 8);
  PutU16(&fmt, channels * bits / 8);
  PutU16(&fmt, bits);
  return fmt;
}

Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  return FormatBody(1, channels, rate, bits);
}

Bytes Riff(const Bytes& chunks) {
  Bytes out = {'R', 'I', 'F', 'F'};
  PutU32(&out, static_cast<uint32_t>(chunks.size() + 4));
  out.insert(out.end(), {'W', 'A', 'V', 'E'});
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

Bytes PcmWave(uint16_t channels, uint32_t rate, uint16_t bits,
              const Bytes& pcm) {
  Bytes chunks;
  PutChunk(&chunks, "fmt ", PcmFormat(channels, rate, bits));
  PutChunk(&chunks, "data", pcm);
  return Riff(chunks);
}

Bytes Pcm16(const std::vector<int32_t>& samples) {
  Bytes out;
  for (int32_t s : samples) PutU16(&out, static_cast<uint16_t>(s));
  return out;
}

}  // namespace veska::testing
