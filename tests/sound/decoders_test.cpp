#include "sound/decoders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "encoded_images.h"
#include "recording_sound_device.h"
#include "sound/sound_engine.h"
#include "temp_folder.h"

namespace veska {
namespace {

using testing::Bytes;
using testing::EncodeFlac;
using testing::EncodeOggVorbis;
using testing::Pcm16;
using testing::SineFrames;

const std::vector<SoundDecoder> kDecoders = {OggVorbisDecoder, FlacDecoder};

SoundSource Source(const Bytes& image) {
  return {image.data(), static_cast<uint32_t>(image.size()), nullptr};
}

bool Decode(const Bytes& image, DecodedSound* out) {
  return DecodeSoundData(image.data(), static_cast<uint32_t>(image.size()),
                         kDecoders, out);
}

int16_t SampleAt(const DecodedSound& sound, size_t index) {
  int16_t value;
  std::memcpy(&value, sound.data + index * 2, 2);
  return value;
}

Bytes AsBytes(const DecodedSound& sound) {
  return Bytes(sound.data, sound.data + sound.size);
}

std::vector<float> ToFloat(const std::vector<int32_t>& samples) {
  std::vector<float> out;
  for (int32_t s : samples) out.push_back(s / 32768.0f);
  return out;
}

double Rms(const DecodedSound& sound, size_t first, size_t count) {
  double sum = 0;
  for (size_t i = first; i < first + count; ++i) {
    const double s = SampleAt(sound, i);
    sum += s * s;
  }
  return std::sqrt(sum / count);
}

TEST(FlacDecoderTest, StereoDecodesBitExactFromTheFirstSample) {
  std::vector<int32_t> samples = SineFrames(10007, 2, 44100, 16);
  samples[0] = -12345;  // the first sample must not be lost to the probe
  samples[1] = 321;
  DecodedSound sound;
  ASSERT_TRUE(Decode(EncodeFlac(samples, 2, 44100, 16), &sound));
  EXPECT_EQ(sound.format.format_tag, kWaveFormatPcm);
  EXPECT_EQ(sound.format.channels, 2);
  EXPECT_EQ(sound.format.samples_per_sec, 44100u);
  EXPECT_EQ(sound.format.block_align, 4);
  EXPECT_EQ(sound.format.bits_per_sample, 16);
  EXPECT_EQ(sound.size, 10007u * 4);
  EXPECT_EQ(AsBytes(sound), Pcm16(samples));
}

TEST(FlacDecoderTest, MonoStaysOneChannel) {
  const std::vector<int32_t> samples = SineFrames(5000, 1, 22050, 16);
  DecodedSound sound;
  ASSERT_TRUE(Decode(EncodeFlac(samples, 1, 22050, 16), &sound));
  EXPECT_EQ(sound.format.channels, 1);
  EXPECT_EQ(sound.format.block_align, 2);
  EXPECT_EQ(sound.format.avg_bytes_per_sec, 44100u);
  EXPECT_EQ(AsBytes(sound), Pcm16(samples));
}

TEST(FlacDecoderTest, MoreThanTwoChannelsKeepTheFirstTwo) {
  const std::vector<int32_t> samples = SineFrames(3000, 3, 48000, 16);
  DecodedSound sound;
  ASSERT_TRUE(Decode(EncodeFlac(samples, 3, 48000, 16), &sound));
  EXPECT_EQ(sound.format.channels, 2);
  EXPECT_EQ(sound.format.block_align, 4);
  std::vector<int32_t> first_two;
  for (size_t i = 0; i < samples.size(); i += 3) {
    first_two.push_back(samples[i]);
    first_two.push_back(samples[i + 1]);
  }
  EXPECT_EQ(AsBytes(sound), Pcm16(first_two));
}

TEST(FlacDecoderTest, OtherDepthsAreScaledToSixteenBits) {
  std::vector<int32_t> deep = SineFrames(2000, 2, 48000, 24);
  deep[0] = -8388608;
  DecodedSound sound;
  ASSERT_TRUE(Decode(EncodeFlac(deep, 2, 48000, 24), &sound));
  std::vector<int32_t> top;
  for (int32_t s : deep) top.push_back(s >> 8);
  EXPECT_EQ(AsBytes(sound), Pcm16(top));
  EXPECT_EQ(SampleAt(sound, 0), -32768);

  const std::vector<int32_t> shallow = SineFrames(2000, 1, 8000, 8);
  ASSERT_TRUE(Decode(EncodeFlac(shallow, 1, 8000, 8), &sound));
  std::vector<int32_t> widened;
  for (int32_t s : shallow) widened.push_back(s * 256);
  EXPECT_EQ(AsBytes(sound), Pcm16(widened));
}

TEST(FlacDecoderTest, AnUnknownTotalLengthStillDecodesEverything) {
  // Longer than the first growing step, so the frames cross block steps.
  const std::vector<int32_t> samples = SineFrames(300001, 2, 44100, 16);
  const Bytes image = EncodeFlac(samples, 2, 44100, 16, /*store_total=*/false);
  void* probe = FlacDecoder.Open(Source(image));
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(FlacDecoder.Length(probe), 0u);
  FlacDecoder.Close(probe);

  DecodedSound sound;
  ASSERT_TRUE(Decode(image, &sound));
  EXPECT_EQ(AsBytes(sound), Pcm16(samples));
}

TEST(FlacDecoderTest, DecodeInStepsCarriesTheRestOfAFrame) {
  const std::vector<int32_t> samples = SineFrames(9000, 2, 44100, 16);
  const Bytes image = EncodeFlac(samples, 2, 44100, 16);
  void* instance = FlacDecoder.Open(Source(image));
  ASSERT_NE(instance, nullptr);
  Bytes out(samples.size() * 2 + 100, 0xAA);
  uint32_t written = 0;
  // Odd step sizes: never a whole frame, often not a whole sample frame.
  const uint32_t steps[] = {7, 1001, 4095, 30001, 3};
  for (int i = 0; written < samples.size() * 2; ++i) {
    const uint32_t step = std::min<uint32_t>(
        steps[i % 5], static_cast<uint32_t>(out.size()) - written);
    const uint32_t got =
        FlacDecoder.Decode(instance, out.data() + written, step);
    EXPECT_EQ(got % 4, 0u);
    written += got;
    if (got == 0 && step >= 4) break;
  }
  EXPECT_EQ(written, samples.size() * 2);
  EXPECT_EQ(FlacDecoder.Decode(instance, out.data() + written, 100), 0u);
  FlacDecoder.Close(instance);
  out.resize(written);
  EXPECT_EQ(out, Pcm16(samples));
}

// Cut in half, the stream still states its whole length; the sound ends
// where its data does, rather than in silence, so that it loops as heard.
TEST(FlacDecoderTest, ADamagedTailEndsTheSound) {
  const std::vector<int32_t> samples = SineFrames(20000, 2, 44100, 16);
  const Bytes whole = EncodeFlac(samples, 2, 44100, 16);
  const Bytes half(whole.begin(), whole.begin() + whole.size() / 2);
  DecodedSound sound;
  ASSERT_TRUE(Decode(half, &sound));
  EXPECT_GT(sound.size, 20000u * 4 / 3);
  EXPECT_LT(sound.size, 20000u * 4);
  const Bytes expected = Pcm16(samples);
  EXPECT_EQ(AsBytes(sound),
            Bytes(expected.begin(), expected.begin() + sound.size));
}

// Headers that state far more sound than the file holds: 2^36 - 1 sample
// frames in a FLAC stream's information block, a last Ogg page's position
// of 2^40. Each sound is as long as what it holds.
TEST(DecoderChoiceTest, AStatedLengthBeyondTheDataIsNotKept) {
  const std::vector<int32_t> samples = SineFrames(22050, 2, 44100, 16);
  Bytes flac = EncodeFlac(samples, 2, 44100, 16);
  // "fLaC", a block header, then 13 bytes into the block the 36-bit total.
  ASSERT_EQ(Bytes(flac.begin(), flac.begin() + 4), Bytes({'f', 'L', 'a', 'C'}));
  flac[21] |= 0x0F;
  std::fill(flac.begin() + 22, flac.begin() + 26, 0xFF);
  void* claim = FlacDecoder.Open(Source(flac));
  ASSERT_NE(claim, nullptr);
  EXPECT_EQ(FlacDecoder.Length(claim), 0xFFFFFFFFu) << "not patched";
  FlacDecoder.Close(claim);
  DecodedSound sound;
  ASSERT_TRUE(Decode(flac, &sound));
  EXPECT_EQ(AsBytes(sound), Pcm16(samples));
  EXPECT_EQ(sound.owned.capacity(), sound.size) << "the claim's memory stays";

  Bytes ogg = EncodeOggVorbis(ToFloat(samples), 2, 44100);
  testing::SetLastOggGranule(&ogg, uint64_t{1} << 40);
  ASSERT_TRUE(Decode(ogg, &sound));
  // Its last block whole: the trim that the true position gave is lost.
  EXPECT_GE(sound.size, samples.size() * 2);
  EXPECT_LT(sound.size, samples.size() * 2 + 4096 * 4);
  EXPECT_EQ(sound.owned.capacity(), sound.size);
}

TEST(FlacDecoderTest, GrowsToTheCapAndNoFurther) {
  // Silence is cheap to encode: 17 million frames is over the cap.
  for (bool store_total : {true, false}) {
    const Bytes image =
        testing::EncodeFlacSilence(17000000, 2, 44100, store_total);
    DecodedSound sound;
    ASSERT_TRUE(Decode(image, &sound));
    EXPECT_EQ(sound.size, kMaxDecodedBytes) << store_total;
  }
}

TEST(OggVorbisDecoderTest, GivesFramesTimesChannelsTimesTwoBytes) {
  for (uint32_t channels : {1u, 2u}) {
    const uint32_t frames = 44101;
    const std::vector<int32_t> samples =
        SineFrames(frames, channels, 44100, 16, 0.5);
    DecodedSound sound;
    ASSERT_TRUE(
        Decode(EncodeOggVorbis(ToFloat(samples), channels, 44100), &sound));
    EXPECT_EQ(sound.format.channels, channels);
    EXPECT_EQ(sound.format.samples_per_sec, 44100u);
    EXPECT_EQ(sound.format.block_align, channels * 2);
    EXPECT_EQ(sound.format.avg_bytes_per_sec, 44100u * channels * 2);
    EXPECT_EQ(sound.size, frames * channels * 2);
    // Lossy, but the same loudness: a sine at half scale has an RMS of
    // 0.5 * 32767 / sqrt(2).
    const size_t middle = frames / 2 * channels;
    EXPECT_NEAR(Rms(sound, middle, 8000), 11585, 600) << channels;
  }
}

TEST(OggVorbisDecoderTest, ATruncatedStreamDecodesWhatRemains) {
  const std::vector<int32_t> samples = SineFrames(441000, 2, 44100, 16);
  const Bytes whole = EncodeOggVorbis(ToFloat(samples), 2, 44100);
  const Bytes part(whole.begin(), whole.begin() + whole.size() * 2 / 3);
  DecodedSound sound;
  ASSERT_TRUE(Decode(part, &sound));
  // The length comes from the last whole page that remains.
  EXPECT_GT(sound.size, 441000u * 4 / 2);
  EXPECT_LT(sound.size, 441000u * 4);
  EXPECT_NEAR(Rms(sound, sound.size / 2 - 8000, 8000), 11585, 600);
}

TEST(DecoderChoiceTest, ForeignDataIsRefusedByBoth) {
  // An MP3-like file: a tag, then frame headers and empty frames.
  Bytes mp3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 200; ++i) {
    mp3.insert(mp3.end(), {0xFF, 0xFB, 0x90, 0x64});
    mp3.insert(mp3.end(), 413, 0);
  }
  Bytes noise(50000);
  uint32_t x = 12345;
  for (auto& b : noise) {
    x = x * 1664525 + 1013904223;
    b = static_cast<uint8_t>(x >> 24);
  }
  const Bytes only_signatures[] = {
      {'f', 'L', 'a', 'C'}, {'O', 'g', 'g', 'S'}, {'f', 'L', 'a', 'C', 0, 0}};
  DecodedSound sound;
  EXPECT_FALSE(Decode(mp3, &sound));
  EXPECT_FALSE(Decode(Bytes(4096, 0), &sound));
  for (const Bytes& image : only_signatures) {
    EXPECT_FALSE(Decode(image, &sound));
  }
  for (const SoundDecoder& decoder : kDecoders) {
    EXPECT_EQ(decoder.Open(Source(mp3)), nullptr);
    EXPECT_EQ(decoder.Open(SoundSource{}), nullptr);
  }
  // Whatever a decoder makes of noise, it must not read past it.
  Decode(noise, &sound);
}

TEST(DecoderChoiceTest, DamagedImagesNeverBreakTheDecoders) {
  const std::vector<int32_t> samples = SineFrames(6000, 2, 44100, 16);
  const Bytes originals[] = {
      EncodeFlac(samples, 2, 44100, 16),
      EncodeOggVorbis(ToFloat(samples), 2, 44100),
  };
  uint32_t x = 99;
  auto next = [&x] {
    x = x * 1664525 + 1013904223;
    return x >> 8;
  };
  for (const Bytes& original : originals) {
    for (int variant = 0; variant < 150; ++variant) {
      Bytes damaged = original;
      const int flips = 1 + static_cast<int>(next() % 8);
      for (int i = 0; i < flips; ++i) {
        damaged[next() % damaged.size()] ^= static_cast<uint8_t>(1 + next());
      }
      damaged.resize(damaged.size() - next() % (damaged.size() / 4));
      // An exactly sized block, so that reading past it is caught.
      auto exact = std::make_unique<uint8_t[]>(damaged.size());
      std::memcpy(exact.get(), damaged.data(), damaged.size());
      DecodedSound sound;
      if (DecodeSoundData(exact.get(), static_cast<uint32_t>(damaged.size()),
                          kDecoders, &sound)) {
        ASSERT_GT(sound.format.block_align, 0);
        EXPECT_EQ(sound.size % sound.format.block_align, 0u);
        EXPECT_LE(sound.size, kMaxDecodedBytes);
      }
    }
  }
}

TEST(DecoderChoiceTest, TheEngineLoadsBothKindsAndReportsTheirFormat) {
  testing::RecordingSoundDevice device;
  std::FILE* diagnostics = std::tmpfile();
  SoundEngine engine(&device, diagnostics);
  ASSERT_TRUE(engine.Open());
  engine.RegisterDecoder(OggVorbisDecoder);
  engine.RegisterDecoder(FlacDecoder);
  engine.RegisterDecoder(OggVorbisDecoder);

  const std::vector<int32_t> samples = SineFrames(1000, 1, 22050, 16);
  testing::TempFile flac(EncodeFlac(samples, 1, 22050, 16), "cpu.flac");
  testing::TempFile ogg(EncodeOggVorbis(ToFloat(samples), 1, 22050), "cpu.ogg");
  const SoundHandle a = engine.LoadFile(flac.path());
  const SoundHandle b = engine.LoadFile(ogg.path());
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_EQ(engine.GetFrequency(a), 22050u);
  EXPECT_EQ(engine.GetFrequency(b), 22050u);
  engine.Close();

  std::rewind(diagnostics);
  char text[512] = {};
  std::fread(text, 1, sizeof text - 1, diagnostics);
  std::fclose(diagnostics);
  const std::string line1 =
      "WAV Header Info: NbChannels 1, BitsPerSamples: 16, NbBlockAlign 2\n";
  const std::string line2 =
      "WAV Header Info: SamplePerSec 22050, nAvgBytesPerSec: 44100, "
      "WavSize 2000\n";
  EXPECT_EQ(std::string(text), line1 + line2 + line1 + line2);
}

}  // namespace
}  // namespace veska
