#include "audio_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "wave_image.h"

namespace veska::e2e {
namespace {

using veska::testing::Pcm16;

namespace fs = std::filesystem;

// Tones made by sox, the same tool the end-to-end tests and the
// demonstration rely on, so the reader meets real files.
class SoxToneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "sox is not installed";
    }
  }

  Recording Make(const std::string& name, const std::string& sox_args) {
    const std::string path = (dir_ / name).string();
    std::string args = sox_args;
    args.replace(args.find("OUT"), 3, "'" + path + "'");
    const std::string full = "sox " + args + " 2>&1";
    EXPECT_EQ(std::system(full.c_str()), 0) << full;
    Recording rec;
    std::string error;
    EXPECT_TRUE(ReadWavFile(path, &rec, &error)) << error;
    return rec;
  }

  testing::TempFolder temp_;
  fs::path dir_ = temp_.path();
};

TEST_F(SoxToneTest, MonoToneGivesItsPitchAndLoudness) {
  const Recording rec =
      Make("a.wav", "-n -r 44100 -c 1 -b 16 OUT synth 1 sine 440 vol 0.5");
  EXPECT_EQ(rec.rate, 44100);
  EXPECT_EQ(rec.channels, 1);
  EXPECT_NEAR(rec.Seconds(), 1.0, 1e-6);
  const FrameRange all = Window(rec, 0, -1);
  EXPECT_NEAR(DominantPitch(rec, all), 440.0, 0.2);
  EXPECT_NEAR(ChannelRms(rec, 0, all), 0.5 / std::numbers::sqrt2, 0.005);
  EXPECT_EQ(ChannelRms(rec, 1, all), 0.0);  // no second channel
}

TEST_F(SoxToneTest, PitchHoldsAtTheRatesAndRangeThePackToneMeets) {
  // A 440 Hz tone at 22050 Hz played at 72050 Hz lands near 1437.7 Hz; the
  // end-to-end tests tell levels about 10 Hz apart there.
  EXPECT_NEAR(DominantPitch(Make("b.wav",
                                 "-n -r 48000 -c 2 OUT synth 0.5 "
                                 "sine 1437.7 vol 0.3"),
                            FrameRange{0, 24000}),
              1437.7, 0.5);
  EXPECT_NEAR(DominantPitch(Make("c.wav",
                                 "-n -r 22050 -c 1 OUT synth 2 "
                                 "sine 440 vol 0.1"),
                            FrameRange{0, 44100}),
              440.0, 0.2);
}

TEST_F(SoxToneTest, SidesAreMeasuredApart) {
  const Recording rec = Make(
      "lr.wav", "-n -r 48000 -c 2 OUT synth 1 sine 1000 vol 0.5 remix 1 0");
  const FrameRange all = Window(rec, 0, -1);
  EXPECT_NEAR(ChannelRms(rec, 0, all), 0.354, 0.005);
  EXPECT_LT(ChannelRms(rec, 1, all), 1e-4);
  EXPECT_NEAR(DominantPitch(rec, all), 1000.0, 0.3);
}

TEST_F(SoxToneTest, WindowsSeparateSuccessivePitches) {
  Make("low.wav", "-n -r 44100 -c 1 OUT synth 1 sine 300 vol 0.5");
  Make("high.wav", "-n -r 44100 -c 1 OUT synth 1 sine 900 vol 0.5");
  const std::string both = (dir_ / "both.wav").string();
  ASSERT_EQ(std::system(("sox '" + (dir_ / "low.wav").string() + "' '" +
                         (dir_ / "high.wav").string() + "' '" + both + "'")
                            .c_str()),
            0);
  Recording rec;
  ASSERT_TRUE(ReadWavFile(both, &rec, nullptr));
  EXPECT_NEAR(DominantPitch(rec, Window(rec, 0.0, 1.0)), 300.0, 0.3);
  EXPECT_NEAR(DominantPitch(rec, Window(rec, 1.0, 2.0)), 900.0, 0.3);
  EXPECT_NEAR(DominantPitch(rec, Window(rec, 1.0, -1)), 900.0, 0.3);
}

TEST_F(SoxToneTest, EverySampleEncodingReadsAlike) {
  for (const char* encoding :
       {"-b 8 -e unsigned-integer", "-b 16", "-b 24", "-b 32",
        "-b 32 -e floating-point", "-b 64 -e floating-point"}) {
    SCOPED_TRACE(encoding);
    const Recording rec =
        Make("e.wav", std::string("-n -r 32000 -c 1 ") + encoding +
                          " OUT synth 0.5 sine 700 vol 0.5");
    const FrameRange all = Window(rec, 0, -1);
    EXPECT_EQ(rec.Frames(), 16000);
    EXPECT_NEAR(DominantPitch(rec, all), 700.0, 0.5);
    EXPECT_NEAR(ChannelRms(rec, 0, all), 0.354, 0.01);
  }
}

TEST_F(SoxToneTest, SilenceHasNoPitch) {
  const Recording rec = Make("s.wav", "-n -r 44100 -c 2 OUT trim 0 1");
  const FrameRange all = Window(rec, 0, -1);
  EXPECT_EQ(all.end, 44100);
  EXPECT_EQ(DominantPitch(rec, all), 0.0);
  EXPECT_EQ(ChannelRms(rec, 0, all), 0.0);
}

// Files built byte by byte, for the shapes sox does not write.
std::vector<uint8_t> WavBytes(uint16_t format, int channels, int rate, int bits,
                              const std::vector<uint8_t>& data,
                              uint32_t data_size_field,
                              const std::vector<uint8_t>& extra_chunk = {}) {
  testing::Bytes chunks = extra_chunk;
  testing::PutChunk(&chunks, "fmt ",
                    testing::FormatBody(format, channels, rate, bits));
  testing::PutChunkWithSize(&chunks, "data", data_size_field, data);
  testing::Bytes out = testing::Riff(chunks);
  std::fill(out.begin() + 4, out.begin() + 8, 0xFF);  // never trusted
  return out;
}

TEST(ParseWavTest, HeaderLeftUnfinishedByAStoppedRecorderYieldsWhatIsThere) {
  // Three whole stereo frames and half of a fourth.
  std::vector<uint8_t> data = Pcm16({16384, -16384, 0, 0, -32768, 32767});
  data.push_back(1);
  data.push_back(2);
  Recording rec;
  ASSERT_TRUE(
      ParseWav(WavBytes(1, 2, 8000, 16, data, 0xFFFFFFFF), &rec, nullptr));
  ASSERT_EQ(rec.Frames(), 3);
  EXPECT_EQ(rec.samples[0], 0.5f);
  EXPECT_EQ(rec.samples[1], -0.5f);
  EXPECT_EQ(rec.samples[4], -1.0f);
}

TEST(ParseWavTest, OddSizedChunksBeforeTheFormatAreSkippedWithTheirPad) {
  const std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 3,   0,
                                     0,   0,   'a', 'b', 'c', 0 /* pad */};
  Recording rec;
  std::string error;
  ASSERT_TRUE(ParseWav(WavBytes(1, 1, 8000, 16, Pcm16({100, 200}), 4, list),
                       &rec, &error))
      << error;
  EXPECT_EQ(rec.Frames(), 2);
}

TEST(ParseWavTest, RefusesWhatItCannotMeasure) {
  std::string error;
  Recording rec;
  const std::vector<uint8_t> short_file = {'R', 'I', 'F', 'F'};
  EXPECT_FALSE(ParseWav(short_file, &rec, &error));
  EXPECT_FALSE(
      ParseWav(WavBytes(2 /* ADPCM */, 1, 8000, 4, {1, 2}, 2), &rec, &error));
  EXPECT_EQ(error, "unsupported sample encoding");
  EXPECT_FALSE(ParseWav(WavBytes(1, 1, 8000, 12, {1, 2}, 2), &rec, &error));
  EXPECT_EQ(error, "unsupported sample size");
  EXPECT_FALSE(ParseWav(WavBytes(1, 0, 8000, 16, {1, 2}, 2), &rec, &error));
  std::vector<uint8_t> no_data = WavBytes(1, 1, 8000, 16, {}, 0);
  no_data.resize(no_data.size() - 8);
  EXPECT_FALSE(ParseWav(no_data, &rec, &error));
  EXPECT_EQ(error, "no data chunk");
  EXPECT_FALSE(ReadWavFile("/nonexistent/x.wav", &rec, &error));
}

TEST(WindowTest, ClampsToTheRecording) {
  Recording rec;
  rec.rate = 1000;
  rec.channels = 2;
  rec.samples.assign(2 * 1500, 0.25f);
  EXPECT_EQ(Window(rec, 0.5, 1.0).begin, 500);
  EXPECT_EQ(Window(rec, 0.5, 1.0).end, 1000);
  EXPECT_EQ(Window(rec, 1.0, 9.0).end, 1500);
  const FrameRange past = Window(rec, 3.0, 4.0);
  EXPECT_EQ(past.begin, past.end);
  EXPECT_EQ(ChannelRms(rec, 0, past), 0.0);
  EXPECT_EQ(DominantPitch(rec, past), 0.0);
  EXPECT_EQ(Window(rec, 1.2, 0.2).end, 1200);  // never reversed
  EXPECT_NEAR(ChannelRms(rec, 1, Window(rec, 0, -1)), 0.25, 1e-9);
}

TEST(DominantPitchTest, TheLouderOfTwoTonesWins) {
  Recording rec;
  rec.rate = 44100;
  rec.channels = 2;
  for (int i = 0; i < 44100; ++i) {
    const double t = i / 44100.0;
    // The quiet tone sits in the left channel only: the mix still holds it.
    rec.samples.push_back(0.1f * std::sin(2 * std::numbers::pi * 2500 * t));
    rec.samples.push_back(0.4f * std::sin(2 * std::numbers::pi * 523.25 * t));
  }
  EXPECT_NEAR(DominantPitch(rec, Window(rec, 0, -1)), 523.25, 0.2);
  EXPECT_NEAR(DominantPitch(rec, Window(rec, 0.25, 0.5)), 523.25, 0.5);
  EXPECT_EQ(DominantPitch(rec, FrameRange{0, 100}), 0.0);  // too short
  // Above the louder tone only the quieter one is left.
  EXPECT_NEAR(DominantPitch(rec, Window(rec, 0, -1), 1000.0), 2500.0, 0.2);
  EXPECT_EQ(DominantPitch(rec, Window(rec, 0, -1), 0.0), 0.0);
}

}  // namespace
}  // namespace veska::e2e
