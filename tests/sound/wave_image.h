// Building sound file images byte by byte for the tests.
#ifndef VESKA_TESTS_SOUND_WAVE_IMAGE_H_
#define VESKA_TESTS_SOUND_WAVE_IMAGE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veska::testing {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes* out, uint16_t v);
void PutU32(Bytes* out, uint32_t v);
// Id, stored size (defaults to the body's), body, pad byte when odd.
void PutChunk(Bytes* out, const char* id, const Bytes& body);
void PutChunkWithSize(Bytes* out, const char* id, uint32_t stored_size,
                      const Bytes& body);

// A 16-byte "fmt " body for PCM.
Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits);
// "RIFF", size, "WAVE", then the chunks as given.
Bytes Riff(const Bytes& chunks);
// A plain PCM WAV file holding `pcm`.
Bytes PcmWave(uint16_t channels, uint32_t rate, uint16_t bits,
              const Bytes& pcm);

// A file in a fresh folder under the temporary folder, removed with it.
class TempFile {
 public:
  explicit TempFile(const Bytes& contents, const std::string& name = "s.wav");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path folder_;
  std::filesystem::path path_;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_SOUND_WAVE_IMAGE_H_
