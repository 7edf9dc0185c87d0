// Every pack shipped in packs/ loads through the real decoders, and every
// sound in it can loop for hours: no click at the wrap, no clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sound/decoders.h"
#include "soundpack/resource_elements.h"
#include "soundpack/soundpack_loader.h"
#include "soundpack_rig.h"

namespace veska {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> BundledPacks() {
  std::vector<fs::path> packs;
  const char* source = std::getenv("VESKA_SOURCE_DIR");
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(
           fs::path(source ? source : ".") / "packs", error)) {
    if (fs::exists(entry.path() / "prefs.ini")) packs.push_back(entry.path());
  }
  return packs;
}

// Largest step between neighbouring frames, the step from the last frame to
// the first, and the peak, over every channel of 16-bit PCM.
struct Loop {
  int largest_step = 0, wrap_step = 0, peak = 0;
};

Loop Measure(const DecodedSound& sound) {
  Loop loop;
  const auto* pcm = reinterpret_cast<const int16_t*>(sound.data);
  const int channels = sound.format.channels;
  const int frames = static_cast<int>(sound.size / sound.format.block_align);
  for (int c = 0; c < channels; ++c) {
    auto at = [&](int f) { return int{pcm[f * channels + c]}; };
    for (int f = 0; f < frames; ++f) {
      loop.peak = std::max(loop.peak, std::abs(at(f)));
      if (f > 0) {
        loop.largest_step =
            std::max(loop.largest_step, std::abs(at(f) - at(f - 1)));
      }
    }
    loop.wrap_step = std::max(loop.wrap_step, std::abs(at(0) - at(frames - 1)));
  }
  return loop;
}

TEST(BundledPacksTest, EveryElementLoadsAndLoopsCleanly) {
  const std::vector<fs::path> packs = BundledPacks();
  ASSERT_GE(packs.size(), 4u) << "VESKA_SOURCE_DIR/packs";
  const std::vector<SoundDecoder> decoders = {OggVorbisDecoder, FlacDecoder};
  std::set<std::string> extensions;
  std::set<int32_t> modes;
  bool averages = false, detuned_per_core = false, disk = false;
  std::set<std::string> optional_elements;
  for (const fs::path& pack : packs) {
    SCOPED_TRACE(pack.filename().string());
    testing::SoundpackRig rig(4);
    for (const SoundDecoder& decoder : decoders)
      rig.engine.RegisterDecoder(decoder);
    const std::string folder = pack.string() + "/";
    rig.Load(folder);
    const SoundpackState& s = rig.state;

    // The files each resource's mode asks for; the pitch ones must be
    // authored at 22050 Hz so that idle plays them as written.
    std::map<std::string, int32_t> files;
    auto add = [&](const std::string& file, int32_t mode) {
      modes.insert(mode);
      if (mode >= 2) {
        files[file + "_a"] = files[file + "_b"] = mode;
      } else {
        files[file] = mode;
      }
    };
    add("cpu", s.CPUSoundMode);
    add("ram", s.RAMSoundMode);
    if (s.HasDiskSounds == 1) add("Disk", s.DiskSoundMode);
    for (const ResourceElement& row : kResourceElements) {
      const ResourceElementState& element = s.Resources[IndexOf(row.resource)];
      if (element.HasSounds != 1) continue;
      add(row.name, element.SoundMode);
      optional_elements.insert(row.name);
    }
    extensions.insert(s.SoundExtension);
    averages = averages || s.UseAverages != 0;
    detuned_per_core =
        detuned_per_core || (s.UseAverages == 0 && s.FrequencyFluctuation == 1);
    disk = disk || s.HasDiskSounds == 1;

    std::size_t keys = 0;
    s.SoundTable.ForEach([&](const std::string& key, int32_t handle) {
      EXPECT_NE(handle, 0) << key;
      ++keys;
    });
    const int cpu_sets = s.UseAverages != 0 ? 1 : 4;
    EXPECT_EQ(keys,
              files.size() + (cpu_sets - 1) * (s.CPUSoundMode >= 2 ? 2 : 1));

    for (const auto& [file, mode] : files) {
      SCOPED_TRACE(file);
      std::ifstream in(folder + file + s.SoundExtension, std::ios::binary);
      const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                       {});
      DecodedSound sound;
      ASSERT_TRUE(DecodeSoundData(
          image.data(), static_cast<uint32_t>(image.size()), decoders, &sound));
      ASSERT_EQ(sound.format.bits_per_sample, 16);
      if (mode == 1) {
        EXPECT_EQ(sound.format.samples_per_sec, 22050u);
      }
      const uint32_t seconds = sound.size / sound.format.avg_bytes_per_sec;
      EXPECT_TRUE(seconds >= 1 && seconds <= 8) << seconds << " s";
      const Loop loop = Measure(sound);
      EXPECT_LE(loop.peak, 23197) << "above -3 dBFS";
      EXPECT_GE(loop.peak, 8192) << "too quiet";
      EXPECT_LE(loop.wrap_step, loop.largest_step) << "a click at the wrap";
    }
  }
  EXPECT_EQ(extensions, (std::set<std::string>{".flac", ".ogg", ".wav"}));
  EXPECT_EQ(modes, (std::set<int32_t>{0, 1, 2}));
  EXPECT_TRUE(averages && detuned_per_core && disk);
  EXPECT_EQ(optional_elements,
            (std::set<std::string>{"battery", "gpu", "net", "temp"}));
}

}  // namespace
}  // namespace veska
