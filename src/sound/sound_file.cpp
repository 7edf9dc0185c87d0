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

bool Accepted(const std::vector<uint8_t>& start,
              const std::vector<SoundDecoder>& decoders) {
  for (const SoundDecoder& decoder : decoders) {
    void* instance =
        decoder.Open(start.data(), static_cast<uint32_t>(start.size()));
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
  // A long file is first offered to the decoders as its start, so that one
  // that is no sound costs a small read: its first MiB, or for one that
  // starts as an Ogg or FLAC stream, whose headers (pictures and all) may
  // be longer, its first 32 MiB.
  uint8_t signature[4] = {};
  if (size >= 4 && !ReadAt(in, 0, signature, 4)) return false;
  const uint64_t probe_limit =
      LooksCompressed(signature) ? kLongProbeBytes : kProbeBytes;
  std::vector<uint8_t> image(
      static_cast<size_t>(std::min<uint64_t>(size, probe_limit)));
  const auto probe = static_cast<uint32_t>(image.size());
  if (probe > 0 && !ReadAt(in, 0, image.data(), probe)) return false;
  if (size > probe) {
    if (!Accepted(image, decoders)) return false;
    image.resize(static_cast<size_t>(size));
    if (!ReadAt(in, probe, image.data() + probe,
                static_cast<uint32_t>(size - probe))) {
      return false;
    }
  }
  // Not RIFF, so whatever is decoded is owned and outlives the image.
  return DecodeSoundData(image.data(), static_cast<uint32_t>(size), decoders,
                         out);
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
