// How long a change of volume takes to be heard through the output the program
// uses: a looping tone waits at silence, is turned to full volume at a random
// moment, and a recorder of the sound server's monitor, piped in as raw signed
// 16-bit mono at 48 kHz, tells when the tone arrives. Pitch, pan and a start
// reach the mixer the same way, so they are heard as soon. The recorder's own
// delay is included: the figures are upper bounds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "sound/linux/linux_sound_device.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRate = 48000;
constexpr int kTrials = 60;
// A tenth of the tone's amplitude: reached within the first half
// millisecond of the mixer's gain ramp.
constexpr int kThreshold = 1600;

std::vector<uint8_t> Tone() {
  std::vector<uint8_t> bytes;
  for (uint32_t i = 0; i < kRate; ++i) {
    const auto s = int16_t(
        16000 * std::sin(2 * std::numbers::pi * 1000 * i / double(kRate)));
    bytes.push_back(uint8_t(s));
    bytes.push_back(uint8_t(uint16_t(s) >> 8));
  }
  return bytes;
}

}  // namespace

int main() {
  veska::LinuxSoundDevice device;
  if (!device.Open()) {
    std::fprintf(stderr, "output_latency: no sound output\n");
    return 1;
  }
  veska::WaveFormat format;
  format.format_tag = veska::kWaveFormatPcm;
  format.channels = 1;
  format.samples_per_sec = kRate;
  format.avg_bytes_per_sec = 2 * kRate;
  format.block_align = 2;
  format.bits_per_sample = 16;
  const std::vector<uint8_t> tone = Tone();
  auto sound = device.CreateBuffer(format, tone.data(), uint32_t(tone.size()));
  sound->SetVolume(veska::kVolumeSilent);
  sound->Play(true);

  // The time the tone was last heard arriving, from the recorder's side.
  std::atomic<bool> loud{false};
  std::atomic<int64_t> onset_ns{0};
  std::atomic<bool> done{false};
  std::thread listener([&] {
    int16_t block[48];  // one millisecond
    while (!done && std::fread(block, sizeof block, 1, stdin) == 1) {
      int peak = 0;
      for (int16_t s : block) peak = std::max(peak, std::abs(int(s)));
      const bool now_loud = peak > kThreshold;
      if (now_loud && !loud) {
        onset_ns = Clock::now().time_since_epoch().count();
      }
      loud = now_loud;
    }
  });

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pause_ms(150, 350);
  std::vector<double> latencies;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  // The first change also waits for the stream to start; it is not counted.
  for (int trial = -1; trial < kTrials; ++trial) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    if (loud) continue;  // still sounding from the last trial
    const int64_t before = onset_ns;
    const int64_t change = Clock::now().time_since_epoch().count();
    sound->SetVolume(veska::kVolumeFull);
    const auto give_up = Clock::now() + std::chrono::seconds(1);
    while (onset_ns == before && Clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (onset_ns != before && trial >= 0)
      latencies.push_back((onset_ns - change) / 1e6);
    sound->SetVolume(veska::kVolumeSilent);
  }
  done = true;
  sound.reset();
  device.Close();
  listener.join();  // the recorder keeps writing, so its read returns

  if (latencies.empty()) {
    std::fprintf(stderr, "output_latency: the tone was never heard\n");
    return 1;
  }
  std::sort(latencies.begin(), latencies.end());
  // A shared machine may hold the audio thread off now and then; the
  // ninetieth percentile shows the output's own delay.
  std::printf(
      "volume change heard after: median %.1f ms, 90%% within %.1f ms, "
      "worst %.1f ms (%zu changes)\n",
      latencies[latencies.size() / 2], latencies[latencies.size() * 9 / 10],
      latencies.back(), latencies.size());
  for (double ms : latencies) std::fprintf(stderr, "%.1f ", ms);
  std::fprintf(stderr, "\n");
  return 0;
}
