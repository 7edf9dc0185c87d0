// veska_pcm_hash [--dump DIR] FILE... : decodes each sound file with the
// program's own decoders and prints one line per file:
//   NAME format=TAG channels=N rate=HZ bits=B bytes=SIZE fnv1a=HASH
// With --dump, the PCM of each goes to DIR/NAME.pcm as well.
// Built for Linux and for Windows from the same source, so that the two
// builds' decoders can be compared byte for byte. Exit status 1 when a file
// cannot be read or decoded.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sound/decoders.h"
#include "sound/sound_decoder.h"

namespace {

uint64_t Fnv1a(const uint8_t* data, uint32_t size) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint32_t i = 0; i < size; ++i) {
    hash = (hash ^ data[i]) * 0x100000001b3ull;
  }
  return hash;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<veska::SoundDecoder> decoders = {veska::OggVorbisDecoder,
                                                     veska::FlacDecoder};
  int status = 0;
  int first = 1;
  std::filesystem::path dump;
  if (argc > 2 && std::string(argv[1]) == "--dump") {
    dump = argv[2];
    first = 3;
  }
  for (int i = first; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    veska::DecodedSound sound;
    if (!file.good() && !file.eof()) {
      std::printf("%s unreadable\n", path.filename().string().c_str());
      status = 1;
      continue;
    }
    if (!veska::DecodeSoundData(image.data(),
                                static_cast<uint32_t>(image.size()), decoders,
                                &sound)) {
      std::printf("%s undecodable\n", path.filename().string().c_str());
      status = 1;
      continue;
    }
    std::printf("%s format=%u channels=%u rate=%" PRIu32
                " bits=%u bytes=%" PRIu32 " fnv1a=%016" PRIx64 "\n",
                path.filename().string().c_str(), sound.format.format_tag,
                sound.format.channels, sound.format.samples_per_sec,
                sound.format.bits_per_sample, sound.size,
                Fnv1a(sound.data, sound.size));
    if (!dump.empty()) {
      std::ofstream out(dump / (path.filename().string() + ".pcm"),
                        std::ios::binary);
      out.write(reinterpret_cast<const char*>(sound.data), sound.size);
    }
  }
  return status;
}
