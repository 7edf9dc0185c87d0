#include "sound/sound_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "encoded_images.h"
#include "recording_sound_device.h"
#include "sound/decoders.h"
#include "sound/mixer/mixer.h"
#include "temp_folder.h"
#include "wave_image.h"

namespace veska {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::PcmWave;
using testing::RecordingSoundDevice;
using testing::TempFile;

Bytes Silence(uint32_t bytes) { return Bytes(bytes, 0); }

// An engine over a recording device whose header lines go to a temporary
// file the test can read back.
class SoundEngineTest : public ::testing::Test {
 protected:
  SoundEngineTest()
      : diagnostics_(std::tmpfile()), engine_(&device_, diagnostics_) {}
  ~SoundEngineTest() override {
    engine_.Close();
    std::fclose(diagnostics_);
  }

  SoundHandle LoadWave(uint32_t rate = 22050) {
    TempFile file(PcmWave(2, rate, 16, Silence(400)));
    return engine_.LoadFile(file.path());
  }

  std::string Diagnostics() {
    std::fflush(diagnostics_);
    std::rewind(diagnostics_);
    std::string text;
    char chunk[256];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, diagnostics_)) > 0) {
      text.append(chunk, n);
    }
    return text;
  }

  RecordingSoundDevice device_;
  std::FILE* diagnostics_;
  SoundEngine engine_;
};

TEST(AttenuationTableTest, MatchesTheDecibelLevels) {
  RecordingSoundDevice device;
  SoundEngine engine(&device, nullptr);
  ASSERT_TRUE(engine.Open());
  const auto& t = engine.AttenuationTable();
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 6000);
  EXPECT_EQ(t[2], 6602);
  EXPECT_EQ(t[10], 8000);
  EXPECT_EQ(t[25], 8795);
  EXPECT_EQ(t[50], 9397);
  EXPECT_EQ(t[70], 9690);
  EXPECT_EQ(t[75], 9750);
  EXPECT_EQ(t[90], 9908);
  EXPECT_EQ(t[99], 9991);
  EXPECT_EQ(t[100], 10000);
  for (int i = 1; i <= 100; ++i) EXPECT_GT(t[i], t[i - 1]) << i;
}

TEST_F(SoundEngineTest, VolumeMapsToHundredthsOfADecibelAndClamps) {
  ASSERT_TRUE(engine_.Open());
  const SoundHandle h = LoadWave();
  ASSERT_NE(h, 0);
  const auto& buffer = device_.Last();
  const std::pair<int, int> cases[] = {
      {150, 0},    {100, 0},    {90, -92},  {75, -250},  {50, -603},
      {25, -1205}, {10, -2000}, {1, -4000}, {0, -10000}, {-5, -10000},
  };
  for (const auto& [volume, expected] : cases) {
    engine_.SetVolume(h, volume);
    EXPECT_EQ(buffer->volume, expected) << "volume " << volume;
  }
}

TEST_F(SoundEngineTest, PanAttenuatesTheOtherSideAndClamps) {
  ASSERT_TRUE(engine_.Open());
  const SoundHandle h = LoadWave();
  const auto& buffer = device_.Last();
  const std::pair<int, int> cases[] = {
      {-100, -10000}, {100, 10000}, {250, 10000}, {-250, -10000}, {90, 2000},
      {-90, -2000},   {50, 603},    {-50, -603},  {30, 310},      {-30, -310},
      {10, 92},       {1, 9},       {-1, -9},     {0, 0},
  };
  for (const auto& [pan, expected] : cases) {
    engine_.SetPan(h, pan);
    EXPECT_EQ(buffer->pan, expected) << "pan " << pan;
  }
  // Pan is set per sound only.
  engine_.SetPan(AllSounds, 50);
  EXPECT_EQ(buffer->pan, 0);
}

TEST_F(SoundEngineTest, PlayRestartsFromTheStartAndSetsTheVolume) {
  ASSERT_TRUE(engine_.Open());
  const SoundHandle h = LoadWave();
  const auto buffer = device_.Last();
  EXPECT_TRUE(engine_.Play(h, PlayLoop, 50));
  EXPECT_TRUE(buffer->playing);
  EXPECT_TRUE(buffer->looping);
  buffer->position = 1234;  // as if it had played on
  buffer->calls.clear();
  EXPECT_TRUE(engine_.Play(h, 0, 75));
  EXPECT_THAT(buffer->calls, ElementsAre("Stop", "SetCurrentPosition 0",
                                         "SetVolume -250", "Play 0"));
  EXPECT_FALSE(buffer->looping);
}

TEST_F(SoundEngineTest, KeepVolumeLeavesTheLastVolume) {
  ASSERT_TRUE(engine_.Open());
  const SoundHandle h = LoadWave();
  const auto buffer = device_.Last();
  engine_.SetVolume(h, 25);
  buffer->calls.clear();
  EXPECT_TRUE(engine_.Play(h, PlayLoop, KeepVolume));
  EXPECT_THAT(buffer->calls,
              ElementsAre("Stop", "SetCurrentPosition 0", "Play 1"));
  EXPECT_EQ(buffer->volume, -1205);
}

TEST_F(SoundEngineTest, StopRewinds) {
  ASSERT_TRUE(engine_.Open());
  const SoundHandle h = LoadWave();
  const auto buffer = device_.Last();
  engine_.Play(h, PlayLoop, 100);
  buffer->position = 88;
  engine_.Stop(h);
  EXPECT_FALSE(buffer->playing);
  EXPECT_EQ(buffer->position, 0u);
}

TEST_F(SoundEngineTest, HandleZeroAndUnknownHandlesDoNothing) {
  ASSERT_TRUE(engine_.Open());
  LoadWave();
  const auto buffer = device_.Last();
  buffer->calls.clear();
  for (SoundHandle h : {0, 12345, -7}) {
    EXPECT_FALSE(engine_.Play(h, PlayLoop, 50));
    engine_.Stop(h);
    engine_.SetVolume(h, 50);
    engine_.SetPan(h, 50);
    engine_.SetFrequency(h, 44100);
    EXPECT_EQ(engine_.GetFrequency(h), 0u);
    engine_.Release(h);
  }
  EXPECT_TRUE(buffer->calls.empty());
  EXPECT_FALSE(buffer->released);
}

TEST_F(SoundEngineTest, TwoLoadsOfOneFileAreIndependent) {
  ASSERT_TRUE(engine_.Open());
  TempFile file(PcmWave(1, 22050, 16, Silence(100)));
  const SoundHandle a = engine_.LoadFile(file.path());
  const SoundHandle b = engine_.LoadFile(file.path());
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_NE(a, b);
  ASSERT_EQ(device_.buffers.size(), 2u);
  const auto first = device_.buffers[0];
  const auto second = device_.buffers[1];

  engine_.Play(a, PlayLoop, 50);
  engine_.SetFrequency(b, 30000);
  EXPECT_TRUE(first->playing);
  EXPECT_FALSE(second->playing);
  EXPECT_EQ(engine_.GetFrequency(a), 22050u);
  EXPECT_EQ(engine_.GetFrequency(b), 30000u);

  engine_.Release(a);
  EXPECT_TRUE(first->released);
  EXPECT_FALSE(second->released);
  EXPECT_EQ(engine_.GetFrequency(a), 0u);
  EXPECT_EQ(engine_.GetFrequency(b), 30000u);
}

TEST_F(SoundEngineTest, FrequencyIsPassedUnchangedAndRefusalsKeepTheOld) {
  ASSERT_TRUE(engine_.Open());
  const SoundHandle h = LoadWave(22050);
  EXPECT_EQ(engine_.GetFrequency(h), 22050u);
  engine_.SetFrequency(h, 44101);
  EXPECT_EQ(engine_.GetFrequency(h), 44101u);
  engine_.SetFrequency(h, 5000000);
  EXPECT_EQ(device_.Last()->calls.back(), "SetFrequency 5000000");
  EXPECT_EQ(engine_.GetFrequency(h), 44101u);
}

TEST_F(SoundEngineTest, AllSoundsReachesEveryLoadedSound) {
  ASSERT_TRUE(engine_.Open());
  // With nothing loaded these do nothing.
  engine_.Stop(AllSounds);
  engine_.Release(AllSounds);
  engine_.SetVolume(AllSounds, 10);

  const SoundHandle handles[] = {LoadWave(), LoadWave(), LoadWave()};
  for (SoundHandle h : handles) engine_.Play(h, PlayLoop, 100);
  engine_.SetVolume(AllSounds, 10);
  engine_.Stop(AllSounds);
  for (const auto& buffer : device_.buffers) {
    EXPECT_EQ(buffer->volume, -2000);
    EXPECT_FALSE(buffer->playing);
    EXPECT_EQ(buffer->position, 0u);
  }
  engine_.Release(AllSounds);
  EXPECT_TRUE(device_.Live().empty());
  for (SoundHandle h : handles) EXPECT_EQ(engine_.GetFrequency(h), 0u);
}

TEST_F(SoundEngineTest, HandlesAreNeverZeroOrAllSoundsAndNeverShared) {
  std::set<SoundHandle> live = {1, 2, 4};
  auto in_use = [&](SoundHandle h) { return live.count(h) != 0; };
  EXPECT_EQ(NextFreeHandle(0, in_use), 3);
  EXPECT_EQ(NextFreeHandle(3, in_use), 5);
  live = {INT32_MIN};
  EXPECT_EQ(NextFreeHandle(INT32_MAX, in_use), INT32_MIN + 1);
  live = {};
  EXPECT_EQ(NextFreeHandle(-2, in_use), 1);
  live = {1};
  EXPECT_EQ(NextFreeHandle(-3, in_use), -2);
  EXPECT_EQ(NextFreeHandle(-2, in_use), 2);

  ASSERT_TRUE(engine_.Open());
  const SoundHandle a = LoadWave();
  const SoundHandle b = LoadWave();
  engine_.Release(a);
  const SoundHandle c = LoadWave();
  EXPECT_NE(c, b);
  EXPECT_NE(c, 0);
}

TEST_F(SoundEngineTest, HeaderLinesForEveryLoadEvenWhenTheDeviceRefuses) {
  ASSERT_TRUE(engine_.Open());
  device_.refuse_non_pcm = true;
  Bytes chunks;
  Bytes fmt = testing::PcmFormat(2, 44100, 16);
  fmt[0] = 0x55;  // a compressed format tag the device does not play
  testing::PutChunk(&chunks, "fmt ", fmt);
  testing::PutChunk(&chunks, "data", Silence(8));
  TempFile refused(testing::Riff(chunks));
  TempFile played(PcmWave(1, 8000, 8, Silence(51)));

  EXPECT_EQ(engine_.LoadFile(refused.path()), 0);
  EXPECT_NE(engine_.LoadFile(played.path()), 0);
  EXPECT_EQ(Diagnostics(),
            "WAV Header Info: NbChannels 2, BitsPerSamples: 16, "
            "NbBlockAlign 4\n"
            "WAV Header Info: SamplePerSec 44100, nAvgBytesPerSec: 176400, "
            "WavSize 8\n"
            "WAV Header Info: NbChannels 1, BitsPerSamples: 8, "
            "NbBlockAlign 1\n"
            "WAV Header Info: SamplePerSec 8000, nAvgBytesPerSec: 8000, "
            "WavSize 51\n");
  EXPECT_EQ(device_.Live().size(), 1u);
}

TEST_F(SoundEngineTest, FailedLoadsReturnZeroAndChangeNothing) {
  ASSERT_TRUE(engine_.Open());
  EXPECT_EQ(engine_.LoadFile("/nonexistent/veska/none.wav"), 0);
  TempFile empty(Bytes{});
  EXPECT_EQ(engine_.LoadFile(empty.path()), 0);
  TempFile no_data_bytes(PcmWave(2, 44100, 16, Bytes{}));
  EXPECT_EQ(engine_.LoadFile(no_data_bytes.path()), 0);
  // A folder is not a sound file.
  EXPECT_EQ(engine_.LoadFile(std::filesystem::temp_directory_path().string()),
            0);
  // Not RIFF and no decoder registered.
  TempFile ogg_like(Bytes{'O', 'g', 'g', 'S', 0, 0, 0, 0});
  EXPECT_EQ(engine_.LoadFile(ogg_like.path()), 0);
  EXPECT_TRUE(device_.Live().empty());
  // Only the image that decoded said anything, though the device refused it.
  EXPECT_EQ(Diagnostics(),
            "WAV Header Info: NbChannels 2, BitsPerSamples: 16, "
            "NbBlockAlign 4\n"
            "WAV Header Info: SamplePerSec 44100, nAvgBytesPerSec: 176400, "
            "WavSize 0\n");
}

// Bytes this process has asked the kernel to read so far; -1 when unknown.
int64_t BytesReadByThisProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

TEST_F(SoundEngineTest, AHugeWaveFileIsCutAtTheCapAndReadNoFurther) {
  ASSERT_TRUE(engine_.Open());
  Bytes chunks;
  testing::PutChunk(&chunks, "fmt ", testing::PcmFormat(2, 44100, 16));
  testing::PutChunkWithSize(&chunks, "data", 0xFFFFFFFF, Bytes{});
  testing::TempFolder folder;
  const std::filesystem::path path = folder.path() / "cpu.wav";
  testing::WriteFile(path, testing::Riff(chunks));
  // Sparse: it takes no room on disk, yet reads as 3.5 GB of silence.
  std::filesystem::resize_file(path, 3500000000u);

  const int64_t read_before = BytesReadByThisProcess();
  ASSERT_NE(engine_.LoadFile(path.string()), 0);
  const int64_t read_after = BytesReadByThisProcess();
  EXPECT_EQ(device_.Last()->size, kMaxDecodedBytes);
  EXPECT_NE(Diagnostics().find("WavSize 64000000\n"), std::string::npos);
  if (read_before >= 0 && read_after >= 0) {
    EXPECT_LE(read_after - read_before, int64_t{kMaxDecodedBytes} + 4096);
  }
}

// Elements that are no sound, 3 GB each, sparse: refused after their start,
// their sounds silent. A stream's signature alone earns a longer look.
// Behind a real sound, 3 GB cost no more.
TEST_F(SoundEngineTest, HugeFilesThatAreNoSoundAreRefusedAfterTheirStart) {
  ASSERT_TRUE(engine_.Open());
  engine_.RegisterDecoder(OggVorbisDecoder);
  engine_.RegisterDecoder(FlacDecoder);
  testing::TempFolder folder;
  auto make = [&](const char* name, const Bytes& head, uint64_t size) {
    const std::filesystem::path path = folder.path() / name;
    testing::WriteFile(path, std::string(head.begin(), head.end()));
    std::filesystem::resize_file(path, size);
    return path.string();
  };
  const std::string zeros = make("cpu.wav", {}, 3000000000u);
  const std::string text = make("ram.ogg", Bytes(2u << 20, 'x'), 3000000000u);
  const std::string signature =
      make("disk.flac", {'f', 'L', 'a', 'C'}, 3000000000u);

  const int64_t read_before = BytesReadByThisProcess();
  EXPECT_EQ(engine_.LoadFile(zeros), 0);
  EXPECT_EQ(engine_.LoadFile(text), 0);
  const int64_t read_between = BytesReadByThisProcess();
  EXPECT_EQ(engine_.LoadFile(signature), 0);
  const int64_t read_after = BytesReadByThisProcess();
  EXPECT_EQ(device_.Last(), nullptr) << "a buffer was made for no sound";
  if (read_before >= 0 && read_after >= 0) {
    EXPECT_LT(read_between - read_before, int64_t{4} << 20);
    EXPECT_LT(read_after - read_between, int64_t{40} << 20);
  }
  // A real sound followed by 3 GB of nothing loads as long as the sound,
  // the decoders reading little past it.
  const std::vector<int32_t> samples = testing::SineFrames(4000, 1, 8000, 16);
  std::vector<float> as_float;
  for (int32_t sample : samples) as_float.push_back(sample / 32768.0f);
  const Bytes flac = testing::EncodeFlac(samples, 1, 8000, 16);
  const Bytes ogg = testing::EncodeOggVorbis(as_float, 1, 8000);
  for (const auto& [name, image] :
       {std::pair{"cpu_a.flac", flac}, std::pair{"cpu_b.ogg", ogg}}) {
    const int64_t before = BytesReadByThisProcess();
    EXPECT_NE(engine_.LoadFile(make(name, image, 3000000000u)), 0) << name;
    const int64_t after = BytesReadByThisProcess();
    ASSERT_NE(device_.Last(), nullptr);
    EXPECT_EQ(device_.Last()->size, samples.size() * 2) << name;
    if (before >= 0 && after >= 0) {
      EXPECT_LT(after - before, int64_t{80} << 20) << name;
    }
  }
}

TEST_F(SoundEngineTest, LoadsAPathWithNonAsciiCharacters) {
  ASSERT_TRUE(engine_.Open());
  TempFile file(PcmWave(1, 11025, 16, Silence(20)), "g\xC3\xA9nial.wav");
  const SoundHandle h = engine_.LoadFile(file.path());
  ASSERT_NE(h, 0);
  EXPECT_EQ(engine_.GetFrequency(h), 11025u);
}

TEST(SoundEngineWithoutDeviceTest, EveryOperationIsHarmless) {
  RecordingSoundDevice device;
  device.open_result = false;
  SoundEngine engine(&device, nullptr);
  EXPECT_FALSE(engine.Open());
  EXPECT_FALSE(engine.IsOpen());
  TempFile file(PcmWave(2, 44100, 16, Bytes(16, 0)));
  const SoundHandle h = engine.LoadFile(file.path());
  EXPECT_EQ(h, 0);
  EXPECT_FALSE(engine.Play(h, PlayLoop, 50));
  engine.Stop(AllSounds);
  engine.SetVolume(AllSounds, 50);
  engine.SetPan(h, 10);
  engine.SetFrequency(h, 22050);
  EXPECT_EQ(engine.GetFrequency(h), 0u);
  engine.Release(AllSounds);
  engine.Close();
  EXPECT_TRUE(device.buffers.empty());
  EXPECT_FALSE(device.closed);

  SoundEngine no_device(nullptr, nullptr);
  EXPECT_FALSE(no_device.Open());
  EXPECT_EQ(no_device.LoadFile(file.path()), 0);
}

TEST(SoundEngineLifecycleTest, CloseReleasesEverySoundThenTheDevice) {
  RecordingSoundDevice device;
  SoundEngine engine(&device, nullptr);
  ASSERT_TRUE(engine.Open());
  EXPECT_TRUE(engine.Open());  // a second Open keeps the first
  TempFile file(PcmWave(2, 44100, 16, Bytes(16, 0)));
  const SoundHandle h = engine.LoadFile(file.path());
  ASSERT_NE(h, 0);
  engine.Play(h, PlayLoop, 100);
  engine.Close();
  EXPECT_TRUE(device.closed);
  EXPECT_TRUE(device.Live().empty());
  EXPECT_FALSE(engine.IsOpen());
  EXPECT_EQ(engine.LoadFile(file.path()), 0);
}

TEST(SoundEngineDecoderTest, RegisterDecoderIgnoresDuplicatesAndGaps) {
  // A decoder that accepts everything as 4 frames of silence, mono, 1000 Hz,
  // and counts how often it is asked.
  static int opens = 0;
  static int marker = 0;
  SoundDecoder counting{[](const SoundSource&) -> void* {
                          ++opens;
                          return &marker;
                        },
                        [](void*, uint8_t*, uint32_t bytes) { return bytes; },
                        [](void*) -> uint32_t { return 1; },
                        [](void*) -> uint32_t { return 4; },
                        [](void*) -> uint32_t { return 1000; },
                        [](void*) {}};
  RecordingSoundDevice device;
  SoundEngine engine(&device, nullptr);
  engine.RegisterDecoder(counting);  // before Open: still registered
  engine.RegisterDecoder(counting);
  SoundDecoder incomplete = counting;
  incomplete.Open = [](const SoundSource&) -> void* { return nullptr; };
  incomplete.Close = nullptr;
  engine.RegisterDecoder(incomplete);
  ASSERT_TRUE(engine.Open());

  TempFile file(Bytes{'x', 'y', 'z'}, "s.bin");
  opens = 0;
  const SoundHandle h = engine.LoadFile(file.path());
  ASSERT_NE(h, 0);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(device.Last()->size, 8u);
  EXPECT_EQ(engine.GetFrequency(h), 1000u);
}

// Per-core packs load one file once per core: it is decoded once, while each
// sound keeps its own state and sounds as a sound decoded on its own would.
TEST(SharedSoundDataTest, OneDecodeServesEveryLoadOfAnUnchangedFile) {
  static int decodes = 0;
  SoundDecoder counting = FlacDecoder;
  counting.Open = [](const SoundSource& source) {
    ++decodes;
    return FlacDecoder.Open(source);
  };
  const Bytes flac = testing::EncodeFlac(
      testing::SineFrames(3000, 2, 44100, 16), 2, 44100, 16);
  TempFile shared_file(flac, "cpu_a.flac");
  TempFile copy1(flac, "cpu_a.flac"), copy2(flac, "cpu_a.flac");
  std::FILE* diagnostics = std::tmpfile();
  SoftwareMixer shared_mixer, own_mixer;
  SoundEngine shared(&shared_mixer, diagnostics), own(&own_mixer, nullptr);
  for (SoundEngine* engine : {&shared, &own}) {
    ASSERT_TRUE(engine->Open());
    engine->RegisterDecoder(counting);
  }
  std::vector<SoundHandle> a, b;
  for (int i = 0; i < 64; ++i) a.push_back(shared.LoadFile(shared_file.path()));
  EXPECT_EQ(decodes, 1);
  EXPECT_EQ(std::set<SoundHandle>(a.begin(), a.end()).size(), 64u);
  for (const TempFile* file : {&copy1, &copy2}) {
    b.push_back(own.LoadFile(file->path()));
  }
  EXPECT_EQ(decodes, 3);

  // The same calls on two shared sounds and on two decoded apart.
  for (auto [engine, h] : {std::pair{&shared, a}, std::pair{&own, b}}) {
    engine->SetFrequency(h[1], 61000);
    engine->SetPan(h[1], 70);
    engine->Play(h[0], PlayLoop, 90);
    engine->Play(h[1], PlayLoop, 40);
  }
  std::vector<float> heard(8000), expected(8000);
  shared_mixer.Render(heard.data(), 3000);
  own_mixer.Render(expected.data(), 3000);
  shared.Stop(a[0]);
  own.Stop(b[0]);
  shared_mixer.Render(heard.data() + 6000, 1000);
  own_mixer.Render(expected.data() + 6000, 1000);
  EXPECT_EQ(heard, expected);
  EXPECT_EQ(shared.GetFrequency(a[2]), 44100u);

  // Released first, the sound the others share with leaves them playing,
  // and a new load still shares.
  shared.Release(a[0]);
  shared.Release(a[1]);
  shared.Play(a[2], PlayLoop, 100);
  shared_mixer.Render(heard.data(), 1000);
  EXPECT_GT(*std::max_element(heard.begin(), heard.begin() + 2000), 0.1f);
  EXPECT_NE(shared.LoadFile(shared_file.path()), 0);
  EXPECT_EQ(decodes, 3);

  std::fflush(diagnostics);
  std::rewind(diagnostics);
  char line[128];
  std::vector<std::string> lines;
  while (std::fgets(line, sizeof line, diagnostics)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u * 65);
  for (size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(lines[i], lines[i % 2]);
  EXPECT_EQ(lines[1],
            "WAV Header Info: SamplePerSec 44100, nAvgBytesPerSec: 176400, "
            "WavSize 12000\n");

  // A changed file, or one loaded after every sound went, is read again.
  testing::WriteFile(
      shared_file.path(),
      testing::EncodeFlac(testing::SineFrames(500, 1, 8000, 16), 1, 8000, 16));
  EXPECT_EQ(shared.GetFrequency(shared.LoadFile(shared_file.path())), 8000u);
  EXPECT_EQ(decodes, 4);
  shared.Release(AllSounds);
  EXPECT_NE(shared.LoadFile(shared_file.path()), 0);
  EXPECT_EQ(decodes, 5);
  std::fclose(diagnostics);
}

}  // namespace
}  // namespace veska
