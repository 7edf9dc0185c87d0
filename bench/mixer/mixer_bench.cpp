// How many looping voices the software mixer renders in real time on one
// core: each iteration renders one second of output with `voices` voices, so
// voices_per_core = voices * iterations / elapsed seconds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "sound/mixer/mixer.h"

namespace veska {
namespace {

constexpr uint32_t kOutputRate = 48000;
constexpr uint32_t kSliceFrames = 1536;  // what SDL asks for per callback

std::vector<uint8_t> Tone16(uint32_t frames, uint16_t channels) {
  std::vector<uint8_t> bytes;
  bytes.reserve(size_t(frames) * 2 * channels);
  for (uint32_t i = 0; i < frames; ++i) {
    const double phase = 2.0 * std::numbers::pi * 440.0 * i / 44100.0;
    for (double v : {std::sin(phase), std::cos(phase)}) {
      const auto s = uint16_t(int16_t(std::lround(v * 20000.0)));
      bytes.push_back(uint8_t(s));
      bytes.push_back(uint8_t(s >> 8));
      if (channels == 1) break;
    }
  }
  return bytes;
}

// Looping 16-bit voices, two seconds each at `rate` (larger than the caches,
// as real loops are), played at `frequency`.
void LoopingVoices(benchmark::State& state, uint16_t channels, uint32_t rate) {
  const auto voices = int(state.range(0));
  const auto frequency = uint32_t(state.range(1));
  SoftwareMixer mixer(kOutputRate);
  WaveFormat format;
  format.format_tag = kWaveFormatPcm;
  format.channels = channels;
  format.samples_per_sec = rate;
  format.bits_per_sample = 16;
  format.block_align = uint16_t(2 * channels);
  format.avg_bytes_per_sec = rate * format.block_align;
  const std::vector<uint8_t> data = Tone16(2 * rate, channels);
  std::vector<std::unique_ptr<SoundBuffer>> sounds;
  for (int i = 0; i < voices; ++i) {
    sounds.push_back(
        mixer.CreateBuffer(format, data.data(), uint32_t(data.size())));
    sounds.back()->SetFrequency(frequency);
    sounds.back()->SetVolume(-100 * (i % 20));
    sounds.back()->SetPan((i % 21) * 1000 - 10000);
    sounds.back()->SetCurrentPosition(uint32_t(i * format.block_align * 997));
    sounds.back()->Play(true);
  }
  std::vector<float> out(2 * kSliceFrames);
  for (auto _ : state) {
    for (uint32_t done = 0; done < kOutputRate; done += kSliceFrames) {
      mixer.Render(out.data(), kSliceFrames);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.counters["voices_per_core"] = benchmark::Counter(
      double(voices), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["us_per_voice_second"] = benchmark::Counter(
      double(voices) / 1e6, benchmark::Counter::kIsIterationInvariantRate |
                                benchmark::Counter::kInvert);
}

void BM_LoopingVoices(benchmark::State& state) {
  LoopingVoices(state, 2, 44100);
}
BENCHMARK(BM_LoopingVoices)
    ->ArgNames({"voices", "hz"})
    ->Args({64, 44100})
    ->Args({64, 37011})
    ->Args({64, 48000})
    ->Args({64, 96000})
    ->Unit(benchmark::kMillisecond);

// Mono 22.05 kHz, as the bundled packs' sounds are.
void BM_LoopingMonoVoices(benchmark::State& state) {
  LoopingVoices(state, 1, 22050);
}
BENCHMARK(BM_LoopingMonoVoices)
    ->ArgNames({"voices", "hz"})
    ->Args({64, 22050})
    ->Args({64, 30000})
    ->Args({64, 60000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veska

BENCHMARK_MAIN();
