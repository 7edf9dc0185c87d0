// Writes the seed corpus of every fuzz target into <out>/<target>/, made by
// the tests' own image builders and taken from the bundled files and this
// machine's counter files, so that no binary seeds live in the repository.
//
// Usage: veska_fuzz_seeds <out> <source folder>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoded_images.h"
#include "wave_image.h"

namespace {

namespace fs = std::filesystem;
using veska::testing::Bytes;

Bytes ReadBytes(const fs::path& file, size_t at_most = SIZE_MAX) {
  std::ifstream in(file, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)),
              std::istreambuf_iterator<char>());
  if (bytes.size() > at_most) bytes.resize(at_most);
  return bytes;
}

Bytes FromText(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

class Corpus {
 public:
  explicit Corpus(fs::path folder) : folder_(std::move(folder)) {
    fs::create_directories(folder_);
  }
  void Add(const Bytes& bytes) {
    if (bytes.empty()) return;
    std::ofstream out(folder_ / ("seed-" + std::to_string(count_++)),
                      std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  int count() const { return count_; }

 private:
  fs::path folder_;
  int count_ = 0;
};

// The bundled files of `extension`, in a fixed order, cut to `at_most`.
std::vector<Bytes> PackFiles(const fs::path& source,
                             const std::string& extension,
                             size_t at_most = SIZE_MAX) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(source / "packs")) {
    if (entry.path().extension() == extension) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<Bytes> images;
  for (const fs::path& file : files) images.push_back(ReadBytes(file, at_most));
  return images;
}

void PrefsSeeds(Corpus& corpus, const fs::path& source) {
  for (const Bytes& prefs : PackFiles(source, ".ini")) corpus.Add(prefs);
  corpus.Add(FromText(
      "\xEF\xBB\xBF\r\n[Settings]\r\nVolume = 80\r\nRefreshTime=250\r\n"
      "Soundpack = /home/jos\xC3\xA9/packs/tidewater\r\n; a comment\r\n"
      "[other]\nKeyboardModifiers =6\nLevel = -1.5e3\nNear = +Infinity\n"
      "Odd = nan\nTiny = 4.9e-324\nHuge = 1e99999\n"));
  corpus.Add(
      FromText("[soundpack\nUseAverages = 0x10\n = empty\n"
               "novalue\n\t; spaced\n[]\nCaf\xE9=Latin-1\n"));
}

void WavSeeds(Corpus& corpus, const fs::path& source) {
  using namespace veska::testing;
  const Bytes ramp = Pcm16({0, 1000, -1000, 32767, -32768, 5, 6, 7});
  corpus.Add(PcmWave(1, 8000, 8, {0, 128, 255, 1}));
  corpus.Add(PcmWave(2, 44100, 16, ramp));
  corpus.Add(PcmWave(2, 48000, 24, Bytes(24, 0x40)));
  corpus.Add(PcmWave(1, 96000, 32, Bytes(16, 0x7F)));

  Bytes floats;
  PutChunk(&floats, "fmt ", FormatBody(3, 2, 22050, 32));
  PutChunk(&floats, "data",
           {0, 0, 0x80, 0x7F, 0, 0, 0xC0, 0x7F, 0, 0, 0, 0x3F, 0, 0, 0, 0xBF});
  corpus.Add(Riff(floats));

  // Extensible, with a PCM subformat, after an odd-sized chunk.
  Bytes extensible = FormatBody(0xFFFE, 2, 44100, 16);
  PutU16(&extensible, 22);
  PutU16(&extensible, 16);
  PutU32(&extensible, 3);
  const Bytes guid = {1,    0, 0, 0,    0, 0,    0x10, 0,
                      0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  extensible.insert(extensible.end(), guid.begin(), guid.end());
  Bytes chunks;
  PutChunk(&chunks, "LIST", {'I', 'N', 'F'});
  PutChunk(&chunks, "fmt ", extensible);
  PutChunkWithSize(&chunks, "data", 0xFFFFFFF0, ramp);
  corpus.Add(Riff(chunks));

  // The bundled WAV files' headers and first samples.
  for (const Bytes& wav : PackFiles(source, ".wav", 4096)) corpus.Add(wav);
}

void OggSeeds(Corpus& corpus, const fs::path& source) {
  using namespace veska::testing;
  for (uint32_t channels : {1u, 2u}) {
    std::vector<float> samples;
    for (int32_t s : SineFrames(2000, channels, 22050, 16)) {
      samples.push_back(static_cast<float>(s) / 32768.0f);
    }
    corpus.Add(EncodeOggVorbis(samples, channels, 22050));
  }
  // Cut, so that each run stays quick: a stream's end is found either way.
  for (const Bytes& ogg : PackFiles(source, ".ogg", 16384)) corpus.Add(ogg);
}

void FlacSeeds(Corpus& corpus, const fs::path& source) {
  using namespace veska::testing;
  corpus.Add(EncodeFlac(SineFrames(1000, 1, 8000, 8), 1, 8000, 8));
  corpus.Add(EncodeFlac(SineFrames(1000, 2, 44100, 16), 2, 44100, 16));
  corpus.Add(EncodeFlac(SineFrames(500, 3, 48000, 24), 3, 48000, 24, false));
  corpus.Add(EncodeFlacSilence(4096, 2, 44100, false));
  for (const Bytes& flac : PackFiles(source, ".flac", 16384)) corpus.Add(flac);
}

// Parts as the proc target reads them: NUL between files.
Bytes ProcInput(const std::vector<Bytes>& parts) {
  Bytes input;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) input.push_back(0);
    input.insert(input.end(), parts[i].begin(), parts[i].end());
  }
  return input;
}

void ProcSeeds(Corpus& corpus, const fs::path& source) {
  const fs::path fixtures = source / "tests" / "monitor" / "fixtures";
  const Bytes stat1 = ReadBytes(fixtures / "stat.1");
  const Bytes stat2 = ReadBytes(fixtures / "stat.2");
  const Bytes disks1 = ReadBytes(fixtures / "diskstats.1");
  const Bytes disks2 = ReadBytes(fixtures / "diskstats.2");
  const Bytes meminfo = ReadBytes(fixtures / "meminfo");
  corpus.Add(ProcInput({stat1, disks1, meminfo, stat2, disks2}));
  corpus.Add(ProcInput({stat1, disks1, meminfo, stat2, disks2, {0, 6, 200}}));
  // This machine's files, with the long interrupt line of "stat".
  const Bytes stat = ReadBytes("/proc/stat");
  const Bytes disks = ReadBytes("/proc/diskstats");
  corpus.Add(ProcInput({stat, disks, ReadBytes("/proc/meminfo"), stat, disks}));
}

void NetDevSeeds(Corpus& corpus, const fs::path&) {
  const std::string text =
      "Inter-|   Receive |  Transmit\n face |bytes packets|bytes packets\n"
      "    lo: 12 1 0 0 0 0 0 0 12 1 0 0 0 0 0 0\n"
      "  eth0: 3000 9 0 0 0 0 0 0 1000 9 0 0 0 0 0 0\n";
  corpus.Add(Bytes(text.begin(), text.end()));
  corpus.Add(ReadBytes("/proc/net/dev"));
}

// Pages as the exposition target reads them: two scrapes, NUL between.
void ExpositionSeeds(Corpus& corpus, const fs::path& source) {
  const fs::path fixtures =
      source / "tests" / "monitor" / "remote" / "fixtures";
  for (const char* name : {"node_page.txt", "windows_page.txt"}) {
    const Bytes page = ReadBytes(fixtures / name);
    corpus.Add(page);
    corpus.Add(ProcInput({page, page}));
  }
}

void PrometheusAnswerSeeds(Corpus& corpus, const fs::path& source) {
  const fs::path fixtures =
      source / "tests" / "monitor" / "remote" / "fixtures";
  for (const char* name :
       {"vector_answer.json", "matrix_answer.json", "error_answer.json"}) {
    corpus.Add(ReadBytes(fixtures / name));
  }
  corpus.Add(FromText(
      R"({"status":"success","data":{"resultType":"scalar","result":[1,"2"]}})"));
}

void TrayBmpSeeds(Corpus& corpus, const fs::path& source) {
  Bytes bmp = ReadBytes(source / "VESKA.bmp");
  corpus.Add(bmp);
  if (bmp.size() >= 26) {
    // The same rows stored top-down: a negative height.
    int32_t height = bmp[22] | bmp[23] << 8 | bmp[24] << 16 | bmp[25] << 24;
    const uint32_t flipped = static_cast<uint32_t>(-height);
    for (int i = 0; i < 4; ++i) bmp[22 + i] = (flipped >> (8 * i)) & 0xFF;
    corpus.Add(bmp);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <out> <source folder>\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  const fs::path source = argv[2];
  struct Target {
    const char* name;
    void (*make)(Corpus&, const fs::path&);
  };
  for (const Target& target :
       {Target{"prefs", PrefsSeeds}, Target{"wav", WavSeeds},
        Target{"ogg_vorbis", OggSeeds}, Target{"flac", FlacSeeds},
        Target{"proc", ProcSeeds}, Target{"net_dev", NetDevSeeds},
        Target{"tray_bmp", TrayBmpSeeds}, Target{"exposition", ExpositionSeeds},
        Target{"prometheus_answer", PrometheusAnswerSeeds}}) {
    Corpus corpus(out / target.name);
    target.make(corpus, source);
    std::printf("%s: %d seeds\n", target.name, corpus.count());
  }
  return 0;
}
