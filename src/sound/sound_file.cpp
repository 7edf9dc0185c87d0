#include "sound/sound_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sound/wav_reader.h"

namespace veska {
namespace {

bool ReadAt(std::ifstream& in, uint64_t offset, uint8_t* to, uint32_t bytes) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  if (!in) return false;
  in.read(reinterpret_cast<char*>(to), bytes);
  return static_cast<uint64_t>(in.gcount()) == bytes;
}

constexpr uint64_t kProbeBytes = 1u << 20;
constexpr uint64_t kLongProbeBytes = 32u << 20;

bool LooksCompressed(const uint8_t* start) {
  return std::memcmp(start, "OggS", 4) == 0 ||
         std::memcmp(start, "fLaC", 4) == 0 ||
         std::memcmp(start, "ID3", 3) == 0;
}

bool Accepted(const SoundSource& start,
              const std::vector<SoundDecoder>& decoders) {
  for (const SoundDecoder& decoder : decoders) {
    void* instance = decoder.Open(start);
    if (instance == nullptr) continue;
    decoder.Close(instance);
    return true;
  }
  return false;
}

bool ReadFile(const std::string& path,
              const std::vector<SoundDecoder>& decoders, DecodedSound* out) {
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  if (!std::filesystem::is_regular_file(file)) return false;
  std::ifstream in;
  // Unbuffered: each chunk header is one small read, not a buffer's worth.
  in.rdbuf()->pubsetbuf(nullptr, 0);
  in.open(file, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  if (length < 0) return false;
  const auto size = static_cast<uint64_t>(length);

  uint8_t start[4] = {};
  if (size >= sizeof start && ReadAt(in, 0, start, sizeof start) &&
      IsRiffImage(start, sizeof start)) {
    return ReadWaveFile(
        size,
        [&in](uint64_t offset, uint8_t* to, uint32_t bytes) {
          return ReadAt(in, offset, to, bytes);
        },
        out);
  }

  if (size > UINT32_MAX) return false;
  // The decoders read the file as they go, so no more of it is read than
  // they take. A long file is first offered as its start alone, so that one
  // that is no sound cannot keep a decoder searching to its end: its first
  // MiB, or for one that starts as an Ogg or FLAC stream, whose headers
  // (pictures and all) may be longer, its first 32 MiB.
  const FileReader read = [&in](uint64_t offset, uint8_t* to, uint32_t bytes) {
    return ReadAt(in, offset, to, bytes);
  };
  const uint64_t probe = LooksCompressed(start) ? kLongProbeBytes : kProbeBytes;
  if (size > probe &&
      !Accepted({nullptr, static_cast<uint32_t>(probe), &read}, decoders)) {
    return false;
  }
  // Not RIFF, so whatever is decoded is owned and outlives the file.
  return DecodeSoundSource({nullptr, static_cast<uint32_t>(size), &read},
                           decoders, out);
}

}  // namespace

bool ReadSoundFile(const std::string& path,
                   const std::vector<SoundDecoder>& decoders,
                   DecodedSound* out) {
  if (out == nullptr) return false;
  *out = DecodedSound{};
  try {
    if (ReadFile(path, decoders, out)) return true;
  } catch (...) {
    // Allocation or path conversion failures are a failed load, no more.
  }
  *out = DecodedSound{};
  return false;
}

}  // namespace veska
