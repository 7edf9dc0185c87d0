#include "wave_image.h"

#include <unistd.h>
#include <atomic>

#include <fstream>

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

Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes fmt;
  const uint16_t align = channels * bits / 8;
  PutU16(&fmt, 1);
  PutU16(&fmt, channels);
  PutU32(&fmt, rate);
  PutU32(&fmt, rate * align);
  PutU16(&fmt, align);
  PutU16(&fmt, bits);
  return fmt;
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

TempFile::TempFile(const Bytes& contents, const std::string& name) {
  static std::atomic<int> counter{0};
  folder_ = std::filesystem::temp_directory_path() /
            ("veska-sound-" + std::to_string(::getpid()) + "-" +
             std::to_string(counter++));
  std::filesystem::create_directories(folder_);
  path_ = folder_ / name;
  std::ofstream out(path_, std::ios::binary);
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
}

TempFile::~TempFile() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace veska::testing
