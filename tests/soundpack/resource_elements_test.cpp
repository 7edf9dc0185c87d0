// The optional elements (network, GPU, temperature, battery): loaded from
// the files a pack has, heard by their modes as RAM and disk are.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "soundpack/sonification.h"
#include "soundpack/soundpack_loader.h"
#include "soundpack_rig.h"

namespace veska {
namespace {

using Keys = std::set<std::string>;

class ResourceElementsTest : public ::testing::Test {
 protected:
  std::string Pack(const std::string& prefs,
                   const std::vector<std::string>& files) {
    const std::string folder = rig.Folder("pack" + std::to_string(++packs_));
    testing::WriteFile(folder + "prefs.ini", "[soundpack]\n" + prefs);
    for (const std::string& file : files) {
      testing::WriteWav(folder + file, 22050);
    }
    return folder;
  }
  Keys Loaded() {
    Keys keys;
    state.SoundTable.ForEach([&](const std::string& key, int32_t handle) {
      EXPECT_NE(handle, 0) << key;
      keys.insert(key);
    });
    return keys;
  }
  std::vector<int32_t> Present() const {
    std::vector<int32_t> present;
    for (const auto& element : state.Resources) {
      present.push_back(element.HasSounds);
    }
    return present;
  }
  int32_t Volume(const std::string& key) {
    const int32_t device = rig.device.buffers.at(Index(key))->volume;
    for (int32_t v = 0; v <= 100; ++v) {
      if (rig.DeviceVolume(v) == device) return v;
    }
    return -1;
  }
  uint32_t Frequency(const std::string& key) {
    return rig.device.buffers.at(Index(key))->frequency;
  }
  // The buffer of a key: handles count from 1 in load order.
  std::size_t Index(const std::string& key) {
    return static_cast<std::size_t>(state.SoundTable.FindOrAdd(key) - 1);
  }

  testing::SoundpackRig rig{2};
  SoundpackState& state = rig.state;
  MonitorState& monitor = rig.monitor;
  int packs_ = 0;
};

TEST_F(ResourceElementsTest, APackHasTheElementsItHasFilesForEachByItsMode) {
  rig.Load(
      Pack("RAMSoundMode=0\nNetSoundMode=0\nGPUSoundMode=2\n"
           "TempSoundMode=1\n",
           {"cpu.wav", "ram.wav", "net.wav", "gpu_a.wav", "gpu_b.wav",
            "temp.wav", "battery.wav"}));
  EXPECT_EQ(Present(), (std::vector<int32_t>{1, 1, 1, 1}));
  EXPECT_EQ(state.Resources[3].SoundMode, 0) << "a missing key is volume";
  EXPECT_EQ(state.Resources[1].SoundMode, 2);
  EXPECT_EQ(Loaded(),
            (Keys{"cpu", "ram", "net", "gpua", "gpub", "temp", "battery"}));

  // After every classic element, in the order of the resources.
  std::vector<std::string> order;
  for (const ElementFile& f : ElementFiles(state, 2)) order.push_back(f.key);
  EXPECT_EQ(order, (std::vector<std::string>{"cpu", "ram", "net", "gpua",
                                             "gpub", "temp", "battery"}));
}

TEST_F(ResourceElementsTest, OnlyFilesOfThePacksOwnExtensionCountAndNoneBends) {
  // "temp.txt" and "net.ogg" beside a WAV pack: no element, and the
  // extension is still the classic files'.
  rig.Load(
      Pack("NetSoundMode=1\n", {"cpu.wav", "ram.wav", "temp.txt", "net.ogg",
                                "network.wav", "battery_c.wav"}));
  EXPECT_EQ(state.SoundExtension, ".wav");
  EXPECT_EQ(Present(), (std::vector<int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(Loaded(), (Keys{"cpu", "ram"}));
  EXPECT_TRUE(IsElementFileName("battery_b.flac"));
  EXPECT_FALSE(IsElementFileName("battery_c.wav"));

  // The next pack has one; the one after it none again.
  rig.Load(Pack("", {"cpu.wav", "ram.wav", "battery.wav"}));
  EXPECT_EQ(Present(), (std::vector<int32_t>{0, 0, 0, 1}));
  rig.Load(Pack("", {"cpu.wav", "ram.wav"}));
  EXPECT_EQ(Present(), (std::vector<int32_t>{0, 0, 0, 0}));
}

TEST_F(ResourceElementsTest, LevelsSlideToTheLoadsAndSetTheSoundsByMode) {
  rig.Load(
      Pack("RAMSoundMode=0\nNetSoundMode=0\nGPUSoundMode=2\n"
           "TempSoundMode=1\nBatterySoundMode=0\n",
           {"cpu.wav", "ram.wav", "net.wav", "gpu_a.wav", "gpu_b.wav",
            "temp.wav", "battery.wav"}));
  ElementSwitches play;
  play.PlayResources = {1, 1, 1, 0};
  StartSounds(state, monitor, play, rig.engine);
  EXPECT_TRUE(rig.device.buffers.at(Index("net"))->playing);
  EXPECT_TRUE(rig.device.buffers.at(Index("gpua"))->playing);
  EXPECT_FALSE(rig.device.buffers.at(Index("battery"))->playing);

  monitor.ResourceLoads = {40.4, 30.5, 10.0, 3.0};
  auto pass = [&] {
    UpdateTargets(state, monitor);
    UpdateSounds(state, monitor, 0.5f, rig.engine);
  };
  pass();
  // One unit per slide, as every level.
  EXPECT_EQ(state.Resources[0].Level, 1);
  EXPECT_EQ(state.Resources[0].Target, 40);
  EXPECT_EQ(state.Resources[1].Target, 30) << "halves to even";
  EXPECT_FALSE(LevelsAtRest(state, monitor));
  for (int i = 0; i < 60; ++i) pass();
  EXPECT_TRUE(LevelsAtRest(state, monitor)) << "every level on its load";
  EXPECT_EQ(Volume("net"), 20);  // level 40 at half volume
  EXPECT_EQ(Volume("gpua"), 35);
  EXPECT_EQ(Volume("gpub"), 15);
  EXPECT_EQ(Frequency("temp"), 10u * 500 + 22050);
  EXPECT_EQ(Volume("temp"), 50);
  EXPECT_EQ(Volume("battery"), 2);  // level 3 at half volume, rounded

  // A changed load takes the level along; the rest stay.
  monitor.ResourceLoads[2] = 0.0;
  EXPECT_FALSE(LevelsAtRest(state, monitor));
  for (int i = 0; i < 20; ++i) pass();
  EXPECT_EQ(Frequency("temp"), 22050u);
  EXPECT_EQ(Volume("net"), 20);
}

TEST_F(ResourceElementsTest, WithoutTheFilesTheLoadsMoveNothing) {
  rig.Load(Pack("NetSoundMode=0\n", {"cpu.wav", "ram.wav"}));
  monitor.ResourceLoads = {90, 90, 90, 90};
  for (int i = 0; i < 5; ++i) {
    UpdateTargets(state, monitor);
    UpdateSounds(state, monitor, 1.0f, rig.engine);
  }
  EXPECT_EQ(state.Resources[0].Level, 0);
  EXPECT_EQ(Loaded(), (Keys{"cpu", "ram"}));
}

}  // namespace
}  // namespace veska
