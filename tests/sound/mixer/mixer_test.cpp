#include "sound/mixer/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

namespace veska {
namespace {

constexpr uint32_t kRate = 48000;

// The subformat GUID tail shared by the PCM and float subformats.
constexpr uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                   0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

WaveFormat Plain(uint16_t tag, uint16_t channels, uint32_t rate,
                 uint16_t bits) {
  WaveFormat f;
  f.format_tag = tag;
  f.channels = channels;
  f.samples_per_sec = rate;
  f.bits_per_sample = bits;
  f.block_align = uint16_t(channels * bits / 8);
  f.avg_bytes_per_sec = rate * f.block_align;
  return f;
}

WaveFormat Extensible(uint16_t sub_tag, uint16_t channels, uint32_t rate,
                      uint16_t bits, uint16_t valid_bits) {
  WaveFormat f = Plain(kWaveFormatExtensible, channels, rate, bits);
  f.extra = {uint8_t(valid_bits), uint8_t(valid_bits >> 8), 3, 0, 0, 0,
             uint8_t(sub_tag),    uint8_t(sub_tag >> 8),    0, 0};
  f.extra.insert(f.extra.end(), std::begin(kGuidTail), std::end(kGuidTail));
  return f;
}

void PutLe(std::vector<uint8_t>* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// Samples in -1..1 stored as `bits` of `tag` (interleaved as given).
std::vector<uint8_t> Encode(const std::vector<float>& samples, uint16_t tag,
                            uint16_t bits) {
  std::vector<uint8_t> out;
  for (float s : samples) {
    if (tag == kWaveFormatIeeeFloat) {
      uint32_t v;
      std::memcpy(&v, &s, 4);
      PutLe(&out, v, 4);
    } else if (bits == 8) {
      out.push_back(uint8_t(std::lround(s * 127.0f) + 128));
    } else {
      const double scale = std::ldexp(1.0, bits - 1) - 1.0;
      PutLe(&out, uint32_t(int32_t(std::lround(s * scale))), bits / 8);
    }
  }
  return out;
}

// A cosine of `cycles` periods over `frames` frames: loops seamlessly and
// starts at its peak, so a wrong loop wrap shows as a jump.
std::vector<float> Cosine(uint32_t frames, double cycles, float amplitude) {
  std::vector<float> s(frames);
  for (uint32_t i = 0; i < frames; ++i)
    s[i] = amplitude *
           float(std::cos(2.0 * std::numbers::pi * cycles * i / frames));
  return s;
}

std::vector<float> Interleave(const std::vector<float>& left,
                              const std::vector<float>& right) {
  std::vector<float> out;
  for (size_t i = 0; i < left.size(); ++i) {
    out.push_back(left[i]);
    out.push_back(right[i]);
  }
  return out;
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

std::vector<float> Channel(const std::vector<float>& stereo, int channel,
                           size_t skip = 0) {
  std::vector<float> out;
  for (size_t i = 2 * skip + channel; i < stereo.size(); i += 2)
    out.push_back(stereo[i]);
  return out;
}

double Rms(const std::vector<float>& s) {
  double sum = 0.0;
  for (float v : s) sum += double(v) * v;
  return std::sqrt(sum / double(s.size()));
}

double Db(double level, double reference) {
  return 20.0 * std::log10(level / reference);
}

float PeakAbs(const std::vector<float>& s) {
  float peak = 0.0f;
  for (float v : s) peak = std::max(peak, std::fabs(v));
  return peak;
}

float LargestStep(const std::vector<float>& s, bool cyclic) {
  float step = 0.0f;
  for (size_t i = 1; i < s.size(); ++i)
    step = std::max(step, std::fabs(s[i] - s[i - 1]));
  if (cyclic) step = std::max(step, std::fabs(s.front() - s.back()));
  return step;
}

double Pitch(const std::vector<float>& s, uint32_t rate) {
  int rising = 0;
  for (size_t i = 1; i < s.size(); ++i)
    if (s[i - 1] < 0.0f && s[i] >= 0.0f) ++rising;
  return rising * double(rate) / double(s.size());
}

TEST(SoftwareMixer, VolumeIsDecibelsAndSilenceIsSilent) {
  SoftwareMixer mixer(kRate);
  auto full = Make16(mixer, Cosine(4800, 100, 0.8f), 1, 44100);
  ASSERT_NE(full, nullptr);
  ASSERT_TRUE(full->Play(true));
  const double reference = Rms(Channel(Render(mixer, kRate), 0));

  ASSERT_TRUE(full->SetVolume(-603));
  Render(mixer, 960);  // let the gain settle
  const std::vector<float> half = Render(mixer, kRate);
  EXPECT_NEAR(Db(Rms(Channel(half, 0)), reference), -6.03, 0.05);
  EXPECT_NEAR(Db(Rms(Channel(half, 1)), reference), -6.03, 0.05);

  ASSERT_TRUE(full->SetVolume(kVolumeSilent));
  Render(mixer, 960);
  EXPECT_EQ(PeakAbs(Render(mixer, 4800)), 0.0f);

  EXPECT_FALSE(full->SetVolume(1));
  EXPECT_FALSE(full->SetVolume(-10001));
}

TEST(SoftwareMixer, PanAttenuatesTheOtherChannel) {
  SoftwareMixer mixer(kRate);
  auto sound = Make16(mixer, Cosine(4800, 100, 0.8f), 1, kRate);
  ASSERT_NE(sound, nullptr);
  sound->Play(true);
  const double reference = Rms(Channel(Render(mixer, 9600), 0));

  ASSERT_TRUE(sound->SetPan(kPanRight));
  Render(mixer, 960);
  std::vector<float> out = Render(mixer, 9600);
  EXPECT_EQ(PeakAbs(Channel(out, 0)), 0.0f);
  EXPECT_NEAR(Db(Rms(Channel(out, 1)), reference), 0.0, 0.01);

  ASSERT_TRUE(sound->SetPan(-603));
  Render(mixer, 960);
  out = Render(mixer, 9600);
  EXPECT_NEAR(Db(Rms(Channel(out, 0)), reference), 0.0, 0.01);
  EXPECT_NEAR(Db(Rms(Channel(out, 1)), reference), -6.03, 0.05);

  ASSERT_TRUE(sound->SetPan(603));
  Render(mixer, 960);
  out = Render(mixer, 9600);
  EXPECT_NEAR(Db(Rms(Channel(out, 0)), reference), -6.03, 0.05);
  EXPECT_NEAR(Db(Rms(Channel(out, 1)), reference), 0.0, 0.01);

  EXPECT_FALSE(sound->SetPan(10001));
}

TEST(SoftwareMixer, StereoSourcesKeepTheirChannels) {
  SoftwareMixer mixer(kRate);
  const std::vector<float> tone = Cosine(4800, 100, 0.5f);
  auto sound =
      Make16(mixer, Interleave(tone, std::vector<float>(4800, 0.0f)), 2, kRate);
  ASSERT_NE(sound, nullptr);
  sound->Play(true);
  const std::vector<float> out = Render(mixer, 4800);
  EXPECT_GT(Rms(Channel(out, 0)), 0.3);
  EXPECT_EQ(PeakAbs(Channel(out, 1)), 0.0f);
}

TEST(SoftwareMixer, FrequencySetsThePitch) {
  SoftwareMixer mixer(kRate);
  // 441 Hz at its natural rate.
  auto sound = Make16(mixer, Cosine(44100, 441, 0.8f), 1, 44100);
  ASSERT_NE(sound, nullptr);
  sound->Play(true);
  EXPECT_NEAR(Pitch(Channel(Render(mixer, kRate), 0), kRate), 441.0, 1.0);

  ASSERT_TRUE(sound->SetFrequency(88200));
  Render(mixer, 480);
  EXPECT_NEAR(Pitch(Channel(Render(mixer, kRate), 0), kRate), 882.0, 1.0);

  ASSERT_TRUE(sound->SetFrequency(37011));
  Render(mixer, 480);
  EXPECT_NEAR(Pitch(Channel(Render(mixer, kRate), 0), kRate),
              441.0 * 37011 / 44100, 1.0);
}

TEST(SoftwareMixer, FrequencyOutsideTheRangeIsRefusedAndKept) {
  SoftwareMixer mixer(kRate);
  auto sound = Make16(mixer, Cosine(100, 1, 0.5f), 1, 22050);
  ASSERT_NE(sound, nullptr);
  uint32_t hz = 0;
  ASSERT_TRUE(sound->GetFrequency(&hz));
  EXPECT_EQ(hz, 22050u);

  EXPECT_FALSE(sound->SetFrequency(kMinFrequency - 1));
  EXPECT_FALSE(sound->SetFrequency(kMaxFrequency + 1));
  EXPECT_FALSE(sound->SetFrequency(0));
  sound->GetFrequency(&hz);
  EXPECT_EQ(hz, 22050u);

  EXPECT_TRUE(sound->SetFrequency(kMinFrequency));
  sound->GetFrequency(&hz);
  EXPECT_EQ(hz, kMinFrequency);
  EXPECT_TRUE(sound->SetFrequency(kMaxFrequency));
  sound->GetFrequency(&hz);
  EXPECT_EQ(hz, kMaxFrequency);
  EXPECT_FALSE(sound->GetFrequency(nullptr));
}

TEST(SoftwareMixer, LoopWrapsWithoutAJump) {
  // Short loops at several ratios, so the output crosses the loop point at
  // many different fractions, several times within one slice too.
  for (uint32_t rate : {37011u, 44100u, 48000u}) {
    for (uint32_t frames : {5u, 400u}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, " << frames);
      SoftwareMixer mixer(kRate);
      const std::vector<float> source = Cosine(frames, 1, 0.9f);
      auto sound = Make16(mixer, source, 1, rate);
      ASSERT_NE(sound, nullptr);
      sound->Play(true);
      const std::vector<float> out = Channel(Render(mixer, 20000), 0);
      // Upsampled output moves in smaller steps than the source; a cubic may
      // overshoot a little.
      EXPECT_LE(LargestStep(out, false), LargestStep(source, true) * 1.1f);
      EXPECT_GT(Rms(out), 0.5);
    }
  }
}

// Against the ideal tone: catches a wrap that loses the fraction, a pitch
// drift, and an interpolator too coarse for a tone of 20 frames per cycle.
TEST(SoftwareMixer, LoopKeepsThePhaseAcrossManyWraps) {
  struct Case {
    uint32_t rate;
    uint32_t frames;
    float tolerance;
  };
  for (const Case& c : {Case{37011, 400, 1e-3f}, Case{96000, 400, 1e-3f},
                        Case{200000, 400, 1e-3f}, Case{37011, 20, 4e-3f}}) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.frames);
    SoftwareMixer mixer(kRate);
    auto sound = Make16(mixer, Cosine(c.frames, 1, 0.9f), 1, c.rate);
    ASSERT_NE(sound, nullptr);
    sound->Play(true);
    const std::vector<float> out = Channel(Render(mixer, 20000), 0);
    const double tone = double(c.rate) / c.frames;
    float worst = 0.0f;
    for (size_t i = 0; i < out.size(); ++i) {
      const double ideal =
          0.9 * std::cos(2.0 * std::numbers::pi * tone * double(i) / kRate);
      worst = std::max(worst, std::fabs(out[i] - float(ideal)));
    }
    EXPECT_LT(worst, c.tolerance);
  }
}

TEST(SoftwareMixer, FrequencyChangeKeepsTheWaveContinuous) {
  SoftwareMixer mixer(kRate);
  const std::vector<float> source = Cosine(4800, 25, 0.9f);
  auto sound = Make16(mixer, source, 1, kRate);
  ASSERT_NE(sound, nullptr);
  sound->Play(true);
  std::vector<float> out = Channel(Render(mixer, 1000), 0);
  for (uint32_t hz : {24000u, 96000u, 30011u, 48000u}) {
    sound->SetFrequency(hz);
    const std::vector<float> more = Channel(Render(mixer, 777), 0);
    out.insert(out.end(), more.begin(), more.end());
  }
  // At most twice the source rate, so at most twice the source's step.
  EXPECT_LE(LargestStep(out, false), 2.1f * LargestStep(source, true));
}

TEST(SoftwareMixer, VolumeStepsRampInsteadOfClicking) {
  SoftwareMixer mixer(kRate);
  auto sound = Make16(mixer, std::vector<float>(1000, 0.5f), 1, kRate);
  ASSERT_NE(sound, nullptr);
  sound->Play(true);
  EXPECT_NEAR(Render(mixer, 10)[0], 0.5f, 1e-4f);  // a start is not faded

  sound->SetVolume(kVolumeSilent);
  const std::vector<float> left = Channel(Render(mixer, 960), 0);
  EXPECT_GT(left[0], 0.49f);
  for (size_t i = 1; i < left.size(); ++i) {
    EXPECT_LE(left[i], left[i - 1]);
    EXPECT_LT(left[i - 1] - left[i], 0.01f);
  }
  EXPECT_EQ(left.back(), 0.0f);
  // Settles exactly on the target.
  sound->SetVolume(-603);
  Render(mixer, 960);
  EXPECT_NEAR(Render(mixer, 1)[0], 0.5f * std::pow(10.0f, -603 / 2000.0f),
              1e-5f);
}

TEST(SoftwareMixer, StopHaltsAndRewindRestartsAtTheFirstSample) {
  SoftwareMixer mixer(kRate);
  std::vector<float> source(1000);
  for (size_t i = 0; i < source.size(); ++i)
    source[i] = float(i % 97) / 100.0f - 0.4f;
  auto sound = Make16(mixer, source, 1, kRate);
  ASSERT_NE(sound, nullptr);
  sound->Play(true);
  Render(mixer, 333);
  ASSERT_TRUE(sound->Stop());
  EXPECT_EQ(PeakAbs(Render(mixer, 500)), 0.0f);

  // Play without a rewind continues where it stopped.
  sound->Play(true);
  EXPECT_NEAR(Render(mixer, 1)[0], source[333], 1e-4f);

  sound->Stop();
  ASSERT_TRUE(sound->SetCurrentPosition(0));
  sound->Play(true);
  std::vector<float> out = Channel(Render(mixer, 10), 0);
  for (size_t i = 0; i < out.size(); ++i)
    EXPECT_NEAR(out[i], source[i], 1e-4f) << i;

  // A byte offset inside a frame is rounded down to that frame.
  sound->SetCurrentPosition(2 * 7 + 1);
  EXPECT_NEAR(Render(mixer, 1)[0], source[7], 1e-4f);
  EXPECT_FALSE(sound->SetCurrentPosition(2000));
}

TEST(SoftwareMixer, OneShotEndsAndCanPlayAgain) {
  SoftwareMixer mixer(kRate);
  const std::vector<float> source(1000, 0.5f);
  auto sound = Make16(mixer, source, 1, kRate);
  ASSERT_NE(sound, nullptr);
  sound->Play(false);
  std::vector<float> out = Channel(Render(mixer, 3000), 0);
  EXPECT_NEAR(out[998], 0.5f, 1e-4f);
  EXPECT_EQ(PeakAbs(std::vector<float>(out.begin() + 1000, out.end())), 0.0f);

  sound->Play(false);
  out = Channel(Render(mixer, 3000), 0);
  EXPECT_NEAR(out[0], 0.5f, 1e-4f);
  EXPECT_EQ(PeakAbs(std::vector<float>(out.begin() + 1000, out.end())), 0.0f);
}

TEST(SoftwareMixer, VoicesAddUp) {
  SoftwareMixer mixer(kRate);
  auto a = Make16(mixer, std::vector<float>(100, 0.25f), 1, kRate);
  auto b = Make16(mixer, std::vector<float>(100, 0.125f), 2, kRate);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  a->Play(true);
  b->Play(true);
  const std::vector<float> out = Render(mixer, 300);
  for (float v : out) EXPECT_NEAR(v, 0.375f, 1e-4f);
  b.reset();
  EXPECT_NEAR(Render(mixer, 1)[1], 0.25f, 1e-4f);
}

// Every stored encoding of one waveform plays as the same waveform.
TEST(SoftwareMixer, SampleFormatsGiveTheSameWaveform) {
  const std::vector<float> left = Cosine(480, 3, 0.7f);
  const std::vector<float> right = Cosine(480, 5, -0.6f);
  const std::vector<float> stereo = Interleave(left, right);
  struct Case {
    const char* name;
    WaveFormat format;
    uint16_t tag;
    float tolerance;
  };
  const Case cases[] = {
      {"u8", Plain(kWaveFormatPcm, 2, 44100, 8), kWaveFormatPcm, 0.02f},
      {"s16", Plain(kWaveFormatPcm, 2, 44100, 16), kWaveFormatPcm, 2e-4f},
      {"s24", Plain(kWaveFormatPcm, 2, 44100, 24), kWaveFormatPcm, 1e-5f},
      {"s32", Plain(kWaveFormatPcm, 2, 44100, 32), kWaveFormatPcm, 1e-5f},
      {"f32", Plain(kWaveFormatIeeeFloat, 2, 44100, 32), kWaveFormatIeeeFloat,
       1e-5f},
      {"ext s16", Extensible(kWaveFormatPcm, 2, 44100, 16, 16), kWaveFormatPcm,
       2e-4f},
      {"ext s24 in 32", Extensible(kWaveFormatPcm, 2, 44100, 32, 24),
       kWaveFormatPcm, 1e-5f},
      {"ext f32", Extensible(kWaveFormatIeeeFloat, 2, 44100, 32, 32),
       kWaveFormatIeeeFloat, 1e-5f},
  };
  SoftwareMixer reference_mixer(kRate);
  std::vector<uint8_t> ref_bytes = Encode(stereo, kWaveFormatIeeeFloat, 32);
  auto ref = reference_mixer.CreateBuffer(
      Plain(kWaveFormatIeeeFloat, 2, 44100, 32), ref_bytes.data(),
      uint32_t(ref_bytes.size()));
  ASSERT_NE(ref, nullptr);
  ref->Play(true);
  const std::vector<float> expected = Render(reference_mixer, 2000);
  ASSERT_GT(Rms(Channel(expected, 1)), 0.3);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SoftwareMixer mixer(kRate);
    const std::vector<uint8_t> bytes =
        Encode(stereo, c.tag, c.format.bits_per_sample);
    auto sound =
        mixer.CreateBuffer(c.format, bytes.data(), uint32_t(bytes.size()));
    ASSERT_NE(sound, nullptr);
    sound->Play(true);
    const std::vector<float> out = Render(mixer, 2000);
    float worst = 0.0f;
    for (size_t i = 0; i < out.size(); ++i)
      worst = std::max(worst, std::fabs(out[i] - expected[i]));
    EXPECT_LT(worst, c.tolerance * 3);
  }
}

TEST(SoftwareMixer, MonoFeedsBothChannels) {
  for (uint16_t bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    SoftwareMixer mixer(kRate);
    const std::vector<uint8_t> bytes =
        Encode(Cosine(300, 2, 0.5f), kWaveFormatPcm, bits);
    auto sound = mixer.CreateBuffer(Plain(kWaveFormatPcm, 1, 32000, bits),
                                    bytes.data(), uint32_t(bytes.size()));
    ASSERT_NE(sound, nullptr);
    sound->Play(true);
    const std::vector<float> out = Render(mixer, 1000);
    EXPECT_EQ(Channel(out, 0), Channel(out, 1));
    EXPECT_GT(Rms(Channel(out, 0)), 0.3);
  }
}

TEST(SoftwareMixer, DamagedFloatSamplesDoNotPoisonTheMix) {
  SoftwareMixer mixer(kRate);
  const std::vector<float> samples = {0.5f, std::nanf(""), INFINITY, 1e30f};
  const std::vector<uint8_t> bytes = Encode(samples, kWaveFormatIeeeFloat, 32);
  auto sound = mixer.CreateBuffer(Plain(kWaveFormatIeeeFloat, 1, 44100, 32),
                                  bytes.data(), uint32_t(bytes.size()));
  ASSERT_NE(sound, nullptr);
  auto other = Make16(mixer, std::vector<float>(100, 0.25f), 1, kRate);
  sound->Play(true);
  other->Play(true);
  for (float v : Render(mixer, 1000)) ASSERT_TRUE(std::isfinite(v));
}

TEST(SoftwareMixer, UnplayableFormatsAreRefused) {
  SoftwareMixer mixer(kRate);
  const std::vector<uint8_t> bytes(4096, 0x40);
  const auto size = uint32_t(bytes.size());
  auto refused = [&](const WaveFormat& f, uint32_t n = 4096) {
    return mixer.CreateBuffer(f, bytes.data(), n) == nullptr;
  };
  EXPECT_FALSE(refused(Plain(kWaveFormatPcm, 2, 44100, 16)));
  EXPECT_TRUE(refused(Plain(2, 1, 44100, 4)));                // ADPCM
  EXPECT_TRUE(refused(Plain(kWaveFormatPcm, 3, 44100, 16)));  // 3 channels
  EXPECT_TRUE(refused(Plain(kWaveFormatPcm, 0, 44100, 16)));
  EXPECT_TRUE(refused(Plain(kWaveFormatPcm, 1, 44100, 12)));
  EXPECT_TRUE(refused(Plain(kWaveFormatIeeeFloat, 1, 44100, 16)));
  EXPECT_TRUE(refused(Plain(kWaveFormatIeeeFloat, 1, 44100, 64)));
  EXPECT_TRUE(refused(Plain(kWaveFormatPcm, 1, 50, 16)));  // rate
  EXPECT_TRUE(refused(Plain(kWaveFormatPcm, 1, 400000, 16)));
  WaveFormat misaligned = Plain(kWaveFormatPcm, 2, 44100, 16);
  misaligned.block_align = 2;
  EXPECT_TRUE(refused(misaligned));
  EXPECT_TRUE(refused(Plain(kWaveFormatPcm, 2, 44100, 16), 0));
  EXPECT_TRUE(refused(Plain(kWaveFormatPcm, 2, 44100, 16), 3));  // < a frame
  EXPECT_EQ(
      mixer.CreateBuffer(Plain(kWaveFormatPcm, 1, 44100, 16), nullptr, size),
      nullptr);

  WaveFormat ext = Extensible(kWaveFormatPcm, 2, 44100, 16, 16);
  EXPECT_FALSE(refused(ext));
  WaveFormat ext_with_size = ext;  // size field kept in front of the extra
  ext_with_size.extra.insert(ext_with_size.extra.begin(), {22, 0});
  EXPECT_FALSE(refused(ext_with_size));
  WaveFormat wrong_guid = ext;
  wrong_guid.extra.back() ^= 1;
  EXPECT_TRUE(refused(wrong_guid));
  WaveFormat short_extra = ext;
  short_extra.extra.resize(21);
  EXPECT_TRUE(refused(short_extra));
  EXPECT_TRUE(refused(Extensible(kWaveFormatPcm, 2, 44100, 16, 20)));
  EXPECT_TRUE(refused(Extensible(2, 2, 44100, 16, 16)));
  EXPECT_TRUE(refused(Extensible(kWaveFormatExtensible, 2, 44100, 16, 16)));
}

TEST(SoftwareMixer, OutputRateIsChecked) {
  SoftwareMixer mixer(1);
  EXPECT_EQ(mixer.OutputRate(), SoftwareMixer::kDefaultOutputRate);
  EXPECT_TRUE(mixer.Open());
  EXPECT_TRUE(mixer.SetOutputRate(44100));
  EXPECT_FALSE(mixer.SetOutputRate(0));
  EXPECT_EQ(mixer.OutputRate(), 44100u);

  // A source at the output rate plays through untouched.
  auto sound = Make16(mixer, Cosine(441, 4, 0.5f), 1, 44100);
  sound->Play(true);
  const std::vector<float> out = Channel(Render(mixer, 441), 0);
  EXPECT_NEAR(out[100], 0.5f * std::cos(2 * std::numbers::pi * 400 / 441),
              1e-4f);
  EXPECT_EQ(mixer.RenderedFrames(), 441u);
}

// Buffers come and go while another thread renders, as the program does
// while SDL's thread pulls the mix. Run under a sanitizer this finds any read
// of a released buffer.
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
  // Let the audio thread run at least once more over an empty list.
  const int seen = renders.load();
  while (renders.load() < seen + 2) std::this_thread::yield();
  done = true;
  audio.join();
  std::vector<float> out(64);
  mixer.Render(out.data(), 32);
  EXPECT_EQ(PeakAbs(out), 0.0f);
}

TEST(SoftwareMixer, BufferMayOutliveTheMixer) {
  std::unique_ptr<SoundBuffer> sound;
  {
    SoftwareMixer mixer(kRate);
    sound = Make16(mixer, Cosine(64, 1, 0.5f), 1, kRate);
    ASSERT_NE(sound, nullptr);
  }
  EXPECT_TRUE(sound->Play(true));
  EXPECT_TRUE(sound->Stop());
  sound.reset();
}

}  // namespace
}  // namespace veska
