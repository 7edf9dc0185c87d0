// Decoding a 60-second Ogg Vorbis and FLAC file whole, as a load does, and
// the command-line decoders on the same files for comparison.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>

#include "encoded_images.h"
#include "sound/decoders.h"
#include "sound/sound_decoder.h"
#include "sound/sound_file.h"

namespace veska {
namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kSeconds = 60;
constexpr uint32_t kFrames = kRate * kSeconds;

// Something like music: a few drifting partials and a little noise, so that
// neither encoder finds it unusually easy.
std::vector<int32_t> Music() {
  std::vector<int32_t> samples(size_t{kFrames} * 2);
  std::mt19937 noise(7);
  std::normal_distribution<double> hiss(0.0, 300.0);
  for (uint32_t i = 0; i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    for (uint32_t c = 0; c < 2; ++c) {
      double v = 0;
      for (int k = 1; k <= 5; ++k) {
        const double hz = 110.0 * k * (1 + 0.01 * std::sin(t * 0.3 * k + c));
        v += 3000.0 / k * std::sin(2 * std::numbers::pi * hz * t);
      }
      v *= 1 + 0.5 * std::sin(2 * std::numbers::pi * 0.5 * t);
      samples[size_t{i} * 2 + c] =
          static_cast<int32_t>(std::lround(v + hiss(noise)));
    }
  }
  return samples;
}

struct Files {
  testing::Bytes ogg;
  testing::Bytes flac;
  std::string folder;
  std::string ogg_path;
  std::string flac_path;
};

void Save(const testing::Bytes& bytes, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

const Files& TheFiles() {
  static const Files files = [] {
    Files f;
    const std::vector<int32_t> music = Music();
    std::vector<float> as_float;
    as_float.reserve(music.size());
    for (int32_t s : music) as_float.push_back(s / 32768.0f);
    f.ogg = testing::EncodeOggVorbis(as_float, 2, kRate);
    f.flac = testing::EncodeFlac(music, 2, kRate, 16);
    char folder[] = "/tmp/veska-decode-bench-XXXXXX";
    f.folder = mkdtemp(folder) != nullptr ? folder : "/tmp";
    f.ogg_path = f.folder + "/music.ogg";
    f.flac_path = f.folder + "/music.flac";
    Save(f.ogg, f.ogg_path);
    Save(f.flac, f.flac_path);
    return f;
  }();
  return files;
}

const std::vector<SoundDecoder> kDecoders = {OggVorbisDecoder, FlacDecoder};

// Wall and processor seconds of one run, best of several.
struct Timing {
  double wall = 1e9;
  double cpu = 1e9;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// Processor time of the finished children, so that other work on the
// machine does not count against the command.
double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
         usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

template <typename Run, typename Cpu>
Timing Measure(int runs, Run run, Cpu cpu) {
  Timing best;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = cpu();
    if (!run()) return Timing{-1, -1};
    const double cpu_took = cpu() - cpu_start;
    const std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    best.wall = std::min(best.wall, took.count());
    best.cpu = std::min(best.cpu, cpu_took);
  }
  return best;
}

Timing OwnDecode(const testing::Bytes& image, int runs) {
  return Measure(
      runs,
      [&] {
        DecodedSound sound;
        const bool ok =
            DecodeSoundData(image.data(), static_cast<uint32_t>(image.size()),
                            kDecoders, &sound);
        benchmark::DoNotOptimize(sound.data);
        return ok;
      },
      ProcessCpuSeconds);
}

Timing Command(const std::string& command, int runs) {
  return Measure(
      runs, [&] { return std::system(command.c_str()) == 0; },
      ChildrenCpuSeconds);
}

void Decode(benchmark::State& state, const testing::Bytes& image) {
  uint32_t size = 0;
  for (auto _ : state) {
    DecodedSound sound;
    DecodeSoundData(image.data(), static_cast<uint32_t>(image.size()),
                    kDecoders, &sound);
    size = sound.size;
    benchmark::DoNotOptimize(sound.data);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{size});
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(kSeconds) * state.iterations(),
                         benchmark::Counter::kIsRate);
  state.counters["pcm_bytes"] = size;
}

void BM_DecodeOggVorbis60s(benchmark::State& state) {
  Decode(state, TheFiles().ogg);
}
BENCHMARK(BM_DecodeOggVorbis60s)->Unit(benchmark::kMillisecond);

void BM_DecodeFlac60s(benchmark::State& state) {
  Decode(state, TheFiles().flac);
}
BENCHMARK(BM_DecodeFlac60s)->Unit(benchmark::kMillisecond);

// The same files read from disk as a load reads them, the decoders taking
// the bytes as they go.
void ReadFromDisk(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    DecodedSound sound;
    if (!ReadSoundFile(path, kDecoders, &sound))
      state.SkipWithError(path.c_str());
    benchmark::DoNotOptimize(sound.data);
  }
}
void BM_ReadOggVorbis60s(benchmark::State& state) {
  ReadFromDisk(state, TheFiles().ogg_path);
}
BENCHMARK(BM_ReadOggVorbis60s)->Unit(benchmark::kMillisecond);
void BM_ReadFlac60s(benchmark::State& state) {
  ReadFromDisk(state, TheFiles().flac_path);
}
BENCHMARK(BM_ReadFlac60s)->Unit(benchmark::kMillisecond);

// A 3 GB element of zeros, as a hostile pack may hold: a load that reads it
// whole took 37 s and 3.2 GB; refused after its start, it costs a small read.
void BM_RefuseThreeGigabytesOfZeros(benchmark::State& state) {
  const std::string path = TheFiles().folder + "/zeros.wav";
  Save({}, path);
  std::filesystem::resize_file(path, 3000000000u);
  bool loaded = false;
  for (auto _ : state) {
    DecodedSound sound;
    loaded = ReadSoundFile(path, kDecoders, &sound);
    benchmark::DoNotOptimize(sound.data);
  }
  std::filesystem::remove(path);
  if (loaded) state.SkipWithError("the zeros were taken for sound");
}
BENCHMARK(BM_RefuseThreeGigabytesOfZeros)->Unit(benchmark::kMillisecond);

void CompareWithCommandLine() {
  const Files& f = TheFiles();
  constexpr int kRuns = 5;
  const Timing start_cost = Command("true", kRuns);
  struct Row {
    const char* name;
    const testing::Bytes& image;
    std::string command;
  };
  const Row rows[] = {
      {"Ogg Vorbis", f.ogg, "oggdec -Q -o - '" + f.ogg_path + "' > /dev/null"},
      {"FLAC", f.flac, "flac -d -s -c '" + f.flac_path + "' > /dev/null"},
  };
  std::printf("\n60-second stereo 44.1 kHz file, best of %d runs, ms\n", kRuns);
  std::printf(
      "(starting a shell alone: wall %.1f, cpu %.1f; included in the "
      "command's figures)\n",
      start_cost.wall * 1000, start_cost.cpu * 1000);
  std::printf("%-10s %9s %10s %10s %10s %10s %8s %8s\n", "format", "bytes",
              "ours wall", "ours cpu", "cmd wall", "cmd cpu", "wall x",
              "cpu x");
  for (const Row& row : rows) {
    const Timing own = OwnDecode(row.image, kRuns);
    const Timing reference = Command(row.command, kRuns);
    if (reference.wall < 0) {
      std::printf("%-10s command failed: %s\n", row.name, row.command.c_str());
      continue;
    }
    // Ratios above 1: the command-line decoder takes longer than ours.
    std::printf("%-10s %9zu %10.1f %10.1f %10.1f %10.1f %8.2f %8.2f\n",
                row.name, row.image.size(), own.wall * 1000, own.cpu * 1000,
                reference.wall * 1000, reference.cpu * 1000,
                reference.wall / own.wall, reference.cpu / own.cpu);
  }
  std::remove(f.ogg_path.c_str());
  std::remove(f.flac_path.c_str());
  std::remove(f.folder.c_str());
}

}  // namespace
}  // namespace veska

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  veska::CompareWithCommandLine();
  return 0;
}
