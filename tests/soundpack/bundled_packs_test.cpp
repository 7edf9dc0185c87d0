// Every pack shipped in packs/ loads through the real decoders, and every
// sound in it can loop for hours: no click at the wrap, no clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "sound/decoders.h"
#include "sound/sound_decoder.h"
#include "soundpack/soundpack_loader.h"
#include "soundpack_rig.h"

namespace veska {
namespace {

namespace fs = std::filesystem;

// -3 dBFS of a 16-bit sample.
constexpr int kPeakLimit = 23197;

std::vector<fs::path> BundledPacks() {
  const char* source = std::getenv("VESKA_SOURCE_DIR");
  std::vector<fs::path> packs;
  if (source == nullptr) return packs;
  std::error_code error;
  for (const auto& entry :
       fs::directory_iterator(fs::path(source) / "packs", error)) {
    if (fs::exists(entry.path() / "prefs.ini")) packs.push_back(entry.path());
  }
  std::sort(packs.begin(), packs.end());
  return packs;
}

// The element files of one resource and the keys they load under.
void AddResource(int32_t mode, const std::string& file, const std::string& key,
                 const std::string& suffix, std::set<std::string>* files,
                 std::set<std::string>* keys) {
  if (mode >= 2) {
    files->insert(file + "_a");
    files->insert(file + "_b");
    keys->insert(key + "a" + suffix);
    keys->insert(key + "b" + suffix);
  } else {
    files->insert(file);
    keys->insert(key + suffix);
  }
}

struct LoopReport {
  int peak = 0;
  int largest_step = 0;  // between neighbouring frames, any channel
  int wrap_step = 0;     // from the last frame to the first, any channel
  uint32_t frames = 0;
};

LoopReport MeasureLoop(const DecodedSound& sound) {
  LoopReport report;
  const int channels = sound.format.channels;
  const auto* samples = reinterpret_cast<const int16_t*>(sound.data);
  report.frames = sound.size / sound.format.block_align;
  auto at = [&](uint32_t frame, int channel) {
    return static_cast<int>(samples[frame * channels + channel]);
  };
  for (int c = 0; c < channels; ++c) {
    for (uint32_t f = 0; f < report.frames; ++f) {
      report.peak = std::max(report.peak, std::abs(at(f, c)));
      if (f > 0) {
        report.largest_step =
            std::max(report.largest_step, std::abs(at(f, c) - at(f - 1, c)));
      }
    }
    report.wrap_step = std::max(report.wrap_step,
                                std::abs(at(0, c) - at(report.frames - 1, c)));
  }
  return report;
}

TEST(BundledPacksTest, ThereAreThreeOrMoreCoveringEveryFormatAndMode) {
  const std::vector<fs::path> packs = BundledPacks();
  ASSERT_GE(packs.size(), 3u) << "VESKA_SOURCE_DIR/packs";
  std::set<std::string> extensions;
  std::set<int32_t> modes;
  bool averages = false, per_core_detuned = false, disk = false;
  for (const fs::path& pack : packs) {
    testing::SoundpackRig rig(2);
    LoadSoundpack(rig.state, pack.string() + "/");
    const AppState& s = rig.state;
    extensions.insert(s.SoundExtension);
    modes.insert({s.CPUSoundMode, s.RAMSoundMode});
    if (s.HasDiskSounds == 1) {
      modes.insert(s.DiskSoundMode);
      disk = true;
    }
    averages = averages || s.UseAverages != 0;
    per_core_detuned =
        per_core_detuned || (s.UseAverages == 0 && s.FrequencyFluctuation == 1);
  }
  EXPECT_EQ(extensions, (std::set<std::string>{".flac", ".ogg", ".wav"}));
  EXPECT_EQ(modes, (std::set<int32_t>{0, 1, 2}));
  EXPECT_TRUE(averages);
  EXPECT_TRUE(per_core_detuned);
  EXPECT_TRUE(disk);
}

TEST(BundledPacksTest, EveryElementLoadsAndLoopsCleanly) {
  const std::vector<fs::path> packs = BundledPacks();
  ASSERT_FALSE(packs.empty());
  const std::vector<SoundDecoder> decoders = {OggVorbisDecoder, FlacDecoder};
  for (const fs::path& pack : packs) {
    SCOPED_TRACE(pack.filename().string());
    testing::SoundpackRig rig(4);
    for (const SoundDecoder& decoder : decoders) {
      rig.engine.RegisterDecoder(decoder);
    }
    const std::string folder = pack.string() + "/";
    LoadSoundpack(rig.state, folder);
    const AppState& s = rig.state;

    std::set<std::string> files, keys, pitch_files;
    if (s.UseAverages != 0) {
      AddResource(s.CPUSoundMode, "cpu", "cpu", "", &files, &keys);
    } else {
      for (int n = 0; n <= s.LastCoreIndex; ++n) {
        AddResource(s.CPUSoundMode, "cpu", "cpu", std::to_string(n), &files,
                    &keys);
      }
    }
    AddResource(s.RAMSoundMode, "ram", "ram", "", &files, &keys);
    if (s.HasDiskSounds == 1) {
      AddResource(s.DiskSoundMode, "Disk", "Disk", "", &files, &keys);
    }
    if (s.CPUSoundMode == 1) pitch_files.insert("cpu");
    if (s.RAMSoundMode == 1) pitch_files.insert("ram");
    if (s.HasDiskSounds == 1 && s.DiskSoundMode == 1)
      pitch_files.insert("Disk");

    std::set<std::string> loaded;
    rig.state.SoundTable.ForEach([&](const std::string& key, int32_t handle) {
      EXPECT_NE(handle, 0) << key;
      loaded.insert(key);
    });
    EXPECT_EQ(loaded, keys);

    for (const std::string& file : files) {
      SCOPED_TRACE(file);
      std::ifstream in(folder + file + s.SoundExtension, std::ios::binary);
      const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
      DecodedSound sound;
      ASSERT_TRUE(DecodeSoundData(
          image.data(), static_cast<uint32_t>(image.size()), decoders, &sound));
      ASSERT_EQ(sound.format.bits_per_sample, 16);
      if (pitch_files.count(file) != 0) {
        // Idle plays it at its own pitch; full load about 20 semitones up.
        EXPECT_EQ(sound.format.samples_per_sec, 22050u);
      }
      const LoopReport loop = MeasureLoop(sound);
      EXPECT_GT(loop.frames, sound.format.samples_per_sec / 2);
      EXPECT_LE(loop.frames, sound.format.samples_per_sec * 8);
      EXPECT_LE(loop.peak, kPeakLimit);
      EXPECT_GT(loop.peak, kPeakLimit / 8) << "too quiet to hear";
      EXPECT_LE(loop.wrap_step, loop.largest_step)
          << "a click where the loop wraps";
    }
  }
}

}  // namespace
}  // namespace veska
