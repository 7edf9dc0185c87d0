#include "sound/mixer/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numbers>
#include <thread>
#include <vector>

namespace veska {
// Allocations made while `counting` is set, by any thread.
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
}  // namespace veska

void* operator new(std::size_t size) {
  if (veska::counting) ++veska::allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace veska {
namespace {

constexpr uint32_t kRate = 48000;

WaveFormat Plain(uint16_t tag, uint16_t channels, uint32_t rate,
                 uint16_t bits) {
  WaveFormat f;
  f.format_tag = tag;
  f.channels = channels;
  f.samples_per_sec = rate;
  f.bits_per_sample = bits;
  f.block_align = uint16_t(channels * bits / 8);
  return f;
}

// Extra bytes: valid bits, channel mask, then the subformat GUID.
WaveFormat Extensible(uint16_t sub_tag, uint16_t bits, uint16_t valid_bits) {
  WaveFormat f = Plain(kWaveFormatExtensible, 2, 44100, bits);
  f.extra = {uint8_t(valid_bits),
             0,
             3,
             0,
             0,
             0,
             uint8_t(sub_tag),
             0,
             0,
             0,
             0x00,
             0x00,
             0x10,
             0x00,
             0x80,
             0x00,
             0x00,
             0xAA,
             0x00,
             0x38,
             0x9B,
             0x71};
  return f;
}

// Samples in -1..1 stored as `bits` of `tag`, little-endian.
std::vector<uint8_t> Encode(const std::vector<float>& samples, uint16_t tag,
                            uint16_t bits) {
  std::vector<uint8_t> out;
  for (float s : samples) {
    uint32_t v;
    if (tag == kWaveFormatIeeeFloat)
      std::memcpy(&v, &s, 4);
    else if (bits == 8)
      v = uint32_t(std::lround(s * 127.0f) + 128);
    else
      v = uint32_t(int32_t(std::lround(s * (std::ldexp(1.0, bits - 1) - 1))));
    for (int i = 0; i < bits / 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
  }
  return out;
}

// `cycles` periods over `frames` frames: loops seamlessly and starts at its
// peak, so a loop wrap that reads past the end shows as a jump.
std::vector<float> Cosine(uint32_t frames, double cycles, float amplitude) {
  std::vector<float> s(frames);
  for (uint32_t i = 0; i < frames; ++i)
    s[i] = amplitude *
           float(std::cos(2.0 * std::numbers::pi * cycles * i / frames));
  return s;
}

std::unique_ptr<SoundBuffer> Make16(SoftwareMixer& mixer,
                                    const std::vector<float>& samples,
                                    uint16_t channels, uint32_t rate) {
  const std::vector<uint8_t> bytes = Encode(samples, kWaveFormatPcm, 16);
  return mixer.CreateBuffer(Plain(kWaveFormatPcm, channels, rate, 16),
                            bytes.data(), uint32_t(bytes.size()));
}

std::vector<float> Render(SoftwareMixer& mixer, uint32_t frames) {
  std::vector<float> out(2 * size_t(frames), 99.0f);
  mixer.Render(out.data(), frames);
  return out;
}

std::vector<float> Channel(const std::vector<float>& stereo, int channel) {
  std::vector<float> out;
  for (size_t i = channel; i < stereo.size(); i += 2) out.push_back(stereo[i]);
  return out;
}

double Rms(const std::vector<float>& s) {
  double sum = 0.0;
  for (float v : s) sum += double(v) * v;
  return std::sqrt(sum / double(s.size()));
}

float PeakAbs(const std::vector<float>& s) {
  float peak = 0.0f;
  for (float v : s) peak = std::max(peak, std::fabs(v));
  return peak;
}

float LargestStep(const std::vector<float>& s) {
  float step = 0.0f;
  for (size_t i = 1; i < s.size(); ++i)
    step = std::max(step, std::fabs(s[i] - s[i - 1]));
  return step;
}

double Pitch(const std::vector<float>& s) {
  int rising = 0;
  for (size_t i = 1; i < s.size(); ++i)
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) ++rising;
  return rising * double(kRate) / double(s.size());
}

TEST(SoftwareMixer, VolumeAndPanAreDecibels) {
  SoftwareMixer mixer(kRate);
  auto sound = Make16(mixer, Cosine(4800, 100, 0.8f), 1, 44100);
  ASSERT_NE(sound, nullptr);
  sound->Play(true);
  const double full = Rms(Channel(Render(mixer, kRate), 0));
  // Each setting is measured after the gain has settled.
  auto db = [&](int channel) {
    Render(mixer, 960);
    return 20.0 * std::log10(Rms(Channel(Render(mixer, 9600), channel)) / full);
  };

  ASSERT_TRUE(sound->SetVolume(-603));
  EXPECT_NEAR(db(0), -6.03, 0.05);
  EXPECT_NEAR(db(1), -6.03, 0.05);
  ASSERT_TRUE(sound->SetVolume(kVolumeFull));
  ASSERT_TRUE(sound->SetPan(-603));
  EXPECT_NEAR(db(0), 0.0, 0.01);
  EXPECT_NEAR(db(1), -6.03, 0.05);
  ASSERT_TRUE(sound->SetPan(603));
  EXPECT_NEAR(db(0), -6.03, 0.05);
  EXPECT_NEAR(db(1), 0.0, 0.01);

  // The extremes are true silence, not -100 dB.
  ASSERT_TRUE(sound->SetPan(kPanRight));
  EXPECT_NEAR(db(1), 0.0, 0.01);
  EXPECT_EQ(PeakAbs(Channel(Render(mixer, 4800), 0)), 0.0f);
  ASSERT_TRUE(sound->SetVolume(kVolumeSilent));
  Render(mixer, 960);
  EXPECT_EQ(PeakAbs(Render(mixer, 4800)), 0.0f);

  EXPECT_FALSE(sound->SetVolume(1));
  EXPECT_FALSE(sound->SetVolume(kVolumeSilent - 1));
  EXPECT_FALSE(sound->SetPan(kPanRight + 1));
}

TEST(SoftwareMixer, FrequencySetsThePitchWithinItsRange) {
  SoftwareMixer mixer(kRate);
  auto sound = Make16(mixer, Cosine(44100, 441, 0.8f), 1, 44100);
  ASSERT_NE(sound, nullptr);
  uint32_t hz = 0;
  ASSERT_TRUE(sound->GetFrequency(&hz));
  EXPECT_EQ(hz, 44100u);
  sound->Play(true);
  EXPECT_NEAR(Pitch(Channel(Render(mixer, kRate), 0)), 441.0, 1.0);
  for (uint32_t set : {88200u, 37011u}) {
    ASSERT_TRUE(sound->SetFrequency(set));
    Render(mixer, 480);
    EXPECT_NEAR(Pitch(Channel(Render(mixer, kRate), 0)), 441.0 * set / 44100,
                1.0);
  }

  for (uint32_t refused : {0u, kMinFrequency - 1, kMaxFrequency + 1}) {
    EXPECT_FALSE(sound->SetFrequency(refused));
    sound->GetFrequency(&hz);
    EXPECT_EQ(hz, 37011u);
  }
  for (uint32_t limit : {kMinFrequency, kMaxFrequency}) {
    EXPECT_TRUE(sound->SetFrequency(limit));
    sound->GetFrequency(&hz);
    EXPECT_EQ(hz, limit);
  }
}

TEST(SoftwareMixer, LoopWrapsSeamlessly) {
  // Loops of 5 frames cross the loop point several times per render slice.
  for (uint32_t rate : {37011u, 44100u, 48000u}) {
    SCOPED_TRACE(rate);
    SoftwareMixer mixer(kRate);
    const std::vector<float> source = Cosine(5, 1, 0.9f);
    auto sound = Make16(mixer, source, 1, rate);
    sound->Play(true);
    const std::vector<float> out = Channel(Render(mixer, 20000), 0);
    std::vector<float> cyclic = source;
    cyclic.push_back(source.front());
    // Upsampled, the output moves in smaller steps than the source does;
    // a cubic may overshoot a little.
    EXPECT_LE(LargestStep(out), LargestStep(cyclic) * 1.1f);
  }
  // Against the ideal tone over many wraps: catches a wrap that drops the
  // fraction, a drifting pitch, and an interpolator too coarse for a tone of
  // 20 frames per cycle.
  for (auto [rate, frames, tolerance] :
       {std::tuple{37011u, 400u, 1e-3f}, std::tuple{200000u, 400u, 1e-3f},
        std::tuple{37011u, 20u, 4e-3f}}) {
    SCOPED_TRACE(testing::Message() << rate << " Hz, " << frames);
    SoftwareMixer mixer(kRate);
    auto sound = Make16(mixer, Cosine(frames, 1, 0.9f), 1, rate);
    sound->Play(true);
    const std::vector<float> out = Channel(Render(mixer, 20000), 0);
    float worst = 0.0f;
    for (size_t i = 0; i < out.size(); ++i) {
      const double phase = 2.0 * std::numbers::pi * rate / frames * i / kRate;
      worst =
          std::max(worst, std::fabs(out[i] - 0.9f * float(std::cos(phase))));
    }
    EXPECT_LT(worst, tolerance);
  }
}

TEST(SoftwareMixer, ChangesWhilePlayingDoNotClick) {
  SoftwareMixer mixer(kRate);
  auto level = Make16(mixer, std::vector<float>(1000, 0.5f), 1, kRate);
  level->Play(true);
  EXPECT_NEAR(Render(mixer, 10)[0], 0.5f, 1e-4f);  // a start is not faded in
  level->SetVolume(kVolumeSilent);
  const std::vector<float> fade = Channel(Render(mixer, 960), 0);
  EXPECT_GT(fade[0], 0.49f);
  for (size_t i = 1; i < fade.size(); ++i)
    ASSERT_TRUE(fade[i] <= fade[i - 1] && fade[i - 1] - fade[i] < 0.01f) << i;
  EXPECT_EQ(fade.back(), 0.0f);
  level.reset();

  const std::vector<float> source = Cosine(4800, 25, 0.9f);
  auto tone = Make16(mixer, source, 1, kRate);
  tone->Play(true);
  std::vector<float> out = Channel(Render(mixer, 1000), 0);
  for (uint32_t hz : {24000u, 96000u, 30011u, 48000u}) {
    tone->SetFrequency(hz);
    const std::vector<float> more = Channel(Render(mixer, 777), 0);
    out.insert(out.end(), more.begin(), more.end());
  }
  // At most twice the source rate, so at most twice the source's step.
  EXPECT_LE(LargestStep(out), 2.1f * LargestStep(source));
}

TEST(SoftwareMixer, StopRewindAndTheEndOfAOneShot) {
  SoftwareMixer mixer(kRate);
  std::vector<float> source(1000);
  for (size_t i = 0; i < source.size(); ++i)
    source[i] = float(i % 97) / 100.0f - 0.4f;
  auto sound = Make16(mixer, source, 1, kRate);
  sound->Play(true);
  Render(mixer, 333);
  ASSERT_TRUE(sound->Stop());
  EXPECT_EQ(PeakAbs(Render(mixer, 500)), 0.0f);
  sound->Play(true);  // continues where it stopped
  EXPECT_NEAR(Render(mixer, 1)[0], source[333], 1e-4f);

  sound->Stop();
  ASSERT_TRUE(sound->SetCurrentPosition(0));
  sound->Play(false);
  std::vector<float> out = Channel(Render(mixer, 3000), 0);
  for (size_t i = 0; i < 999; ++i) ASSERT_NEAR(out[i], source[i], 1e-4f) << i;
  EXPECT_EQ(PeakAbs({out.begin() + 1000, out.end()}), 0.0f);
  // A one-shot ends rewound, so it plays again from the start.
  sound->Play(false);
  EXPECT_NEAR(Render(mixer, 1)[0], source[0], 1e-4f);

  // A byte offset inside a frame means that frame; past the end is refused.
  sound->SetCurrentPosition(2 * 7 + 1);
  EXPECT_NEAR(Render(mixer, 1)[0], source[7], 1e-4f);
  EXPECT_FALSE(sound->SetCurrentPosition(2000));
}

// A voice nobody can hear costs no mixing, yet keeps its place in the loop,
// and rendering never allocates: it runs on the audio thread.
TEST(SoftwareMixer, SilentVoicesMoveOnUnmixedAndRenderingNeverAllocates) {
  SoftwareMixer mixer(kRate);
  std::vector<float> source(1000);
  for (size_t i = 0; i < source.size(); ++i)
    source[i] = float(i % 97) / 100.0f - 0.4f;
  auto sound = Make16(mixer, source, 1, kRate);
  auto others = Make16(mixer, Cosine(4800, 25, 0.5f), 2, 44100);
  others->SetVolume(kVolumeSilent);
  others->Play(true);
  sound->SetVolume(kVolumeSilent);
  sound->Play(true);
  std::vector<float> out(2 * 4000);
  counting = true;
  mixer.Render(out.data(), 2500);  // wraps past the end of the loop twice
  EXPECT_EQ(PeakAbs(out), 0.0f);
  sound->SetFrequency(24000);  // half speed from here on
  sound->SetVolume(kVolumeFull);
  mixer.Render(out.data(), 240);  // the 5 ms ramp
  mixer.Render(out.data(), 1);
  counting = false;
  EXPECT_NEAR(out[0], source[(2500 + 120) % 1000], 1e-4f);
  EXPECT_EQ(allocations, 0);
}

TEST(SoftwareMixer, SampleFormatsGiveTheSameWaveform) {
  std::vector<float> stereo;
  for (uint32_t i = 0; i < 480; ++i) {
    stereo.push_back(0.7f *
                     float(std::cos(2 * std::numbers::pi * 3 * i / 480)));
    stereo.push_back(-0.6f *
                     float(std::sin(2 * std::numbers::pi * 5 * i / 480)));
  }
  auto play = [&](const WaveFormat& format, uint16_t tag) {
    SoftwareMixer mixer(kRate);
    const std::vector<uint8_t> bytes =
        Encode(stereo, tag, format.bits_per_sample);
    auto sound =
        mixer.CreateBuffer(format, bytes.data(), uint32_t(bytes.size()));
    EXPECT_NE(sound, nullptr);
    if (sound) sound->Play(true);
    return Render(mixer, 2000);
  };
  const std::vector<float> expected =
      play(Plain(kWaveFormatIeeeFloat, 2, 44100, 32), kWaveFormatIeeeFloat);
  ASSERT_GT(Rms(Channel(expected, 1)), 0.3);

  for (auto [name, format, tag, tolerance] : {
           std::tuple{"u8", Plain(1, 2, 44100, 8), kWaveFormatPcm, 0.03f},
           std::tuple{"s16", Plain(1, 2, 44100, 16), kWaveFormatPcm, 3e-4f},
           std::tuple{"s24", Plain(1, 2, 44100, 24), kWaveFormatPcm, 1e-5f},
           std::tuple{"s32", Plain(1, 2, 44100, 32), kWaveFormatPcm, 1e-5f},
           std::tuple{"ext s16", Extensible(1, 16, 16), kWaveFormatPcm, 3e-4f},
           std::tuple{"ext s24/32", Extensible(1, 32, 24), kWaveFormatPcm,
                      1e-5f},
           std::tuple{"ext f32", Extensible(3, 32, 32), kWaveFormatIeeeFloat,
                      1e-6f},
       }) {
    SCOPED_TRACE(name);
    const std::vector<float> out = play(format, tag);
    float worst = 0.0f;
    for (size_t i = 0; i < out.size(); ++i)
      worst = std::max(worst, std::fabs(out[i] - expected[i]));
    EXPECT_LT(worst, tolerance);
  }
}

TEST(SoftwareMixer, RefusesWhatItCannotPlay) {
  SoftwareMixer mixer(kRate);
  const std::vector<uint8_t> bytes(4096, 0x40);
  auto accepted = [&](const WaveFormat& f, uint32_t size = 4096) {
    return mixer.CreateBuffer(f, bytes.data(), size) != nullptr;
  };
  EXPECT_TRUE(accepted(Plain(kWaveFormatPcm, 2, 44100, 16)));
  EXPECT_FALSE(accepted(Plain(2, 1, 44100, 4)));  // a compressed tag
  EXPECT_FALSE(accepted(Plain(kWaveFormatPcm, 3, 44100, 16)));
  EXPECT_FALSE(accepted(Plain(kWaveFormatPcm, 0, 44100, 16)));
  EXPECT_FALSE(accepted(Plain(kWaveFormatPcm, 1, 44100, 12)));
  EXPECT_FALSE(accepted(Plain(kWaveFormatIeeeFloat, 1, 44100, 64)));
  EXPECT_FALSE(accepted(Plain(kWaveFormatPcm, 1, kMinFrequency - 1, 16)));
  WaveFormat misaligned = Plain(kWaveFormatPcm, 2, 44100, 16);
  misaligned.block_align = 2;
  EXPECT_FALSE(accepted(misaligned));
  EXPECT_FALSE(accepted(Plain(kWaveFormatPcm, 2, 44100, 16), 0));
  EXPECT_FALSE(accepted(Plain(kWaveFormatPcm, 2, 44100, 16), 3));
  EXPECT_EQ(mixer.CreateBuffer(Plain(1, 1, 44100, 16), nullptr, 4), nullptr);

  WaveFormat with_size = Extensible(1, 16, 16);  // size field kept in front
  with_size.extra.insert(with_size.extra.begin(), {22, 0});
  EXPECT_TRUE(accepted(with_size));
  WaveFormat wrong_guid = Extensible(1, 16, 16);
  wrong_guid.extra.back() ^= 1;
  EXPECT_FALSE(accepted(wrong_guid));
  WaveFormat short_extra = Extensible(1, 16, 16);
  short_extra.extra.resize(21);
  EXPECT_FALSE(accepted(short_extra));
  EXPECT_FALSE(accepted(Extensible(1, 16, 20)));  // more valid bits than room
  EXPECT_FALSE(accepted(Extensible(2, 16, 16)));

  // Damaged float samples are played as silence, not spread over the mix.
  const std::vector<uint8_t> floats =
      Encode({0.5f, std::nanf(""), INFINITY, 1e30f}, kWaveFormatIeeeFloat, 32);
  auto damaged = mixer.CreateBuffer(Plain(kWaveFormatIeeeFloat, 1, 44100, 32),
                                    floats.data(), uint32_t(floats.size()));
  ASSERT_NE(damaged, nullptr);
  damaged->Play(true);
  for (float v : Render(mixer, 1000)) ASSERT_TRUE(std::isfinite(v));
}

// Buffers come and go while another thread renders, as the program does
// while SDL's thread pulls the mix. Under a thread or address sanitizer this
// finds any read of a released buffer.
TEST(SoftwareMixer, ReleasingWhileAnotherThreadRenders) {
  SoftwareMixer mixer(kRate);
  std::atomic<bool> done{false};
  std::atomic<int> renders{0};
  std::thread audio([&] {
    std::vector<float> out(2 * 256);
    while (!done.load()) {
      mixer.Render(out.data(), 256);
      for (float v : out)
        if (!std::isfinite(v)) std::abort();
      renders.fetch_add(1);
    }
  });

  const std::vector<float> tone = Cosine(64, 1, 0.5f);
  std::vector<std::unique_ptr<SoundBuffer>> live;
  for (int i = 0; i < 3000; ++i) {
    auto sound = Make16(mixer, tone, 1 + i % 2, 20000 + 97 * (i % 500));
    ASSERT_NE(sound, nullptr);
    sound->Play(i % 3 != 0);
    sound->SetVolume(-(i % 4000));
    sound->SetPan((i % 200) * 100 - 10000);
    live.push_back(std::move(sound));
    if (live.size() > 20) live.erase(live.begin() + (i * 7) % live.size());
    if (i % 50 == 0) live.clear();
  }
  live.clear();
  const int seen = renders.load();
  while (renders.load() < seen + 2) std::this_thread::yield();
  done = true;
  audio.join();
  EXPECT_EQ(PeakAbs(Render(mixer, 32)), 0.0f);
}

}  // namespace
}  // namespace veska
