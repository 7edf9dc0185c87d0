#include "soundpack/sonification.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "soundpack_rig.h"

namespace veska {
namespace {

std::vector<std::string> PerCore(const std::string& key, int cores = 4) {
  std::vector<std::string> keys;
  for (int n = 0; n < cores; ++n) keys.push_back(key + std::to_string(n));
  return keys;
}

class SonificationTest : public ::testing::Test {
 protected:
  void Load(const std::vector<std::string>& keys) {
    const auto wav = rig.temp / "tone.wav";
    testing::WriteWav(wav, 22050);
    for (const std::string& key : keys) rig.LoadAs(key, wav);
  }
  // The engine volume a buffer was last given.
  int32_t Volume(const std::string& key) {
    for (int32_t v = 0; v <= 100; ++v) {
      if (rig.DeviceVolume(v) == rig.Buffer(key).volume) return v;
    }
    return -1;
  }
  void Pass(int passes = 1) {
    for (int i = 0; i < passes; ++i) {
      UpdateTargets(state, monitor);
      UpdateSounds(state, monitor, volume, rig.engine);
    }
  }

  testing::SoundpackRig rig{4};
  SoundpackState& state = rig.state;
  MonitorState& monitor = rig.monitor;
  // The application's settings the sounds follow, at their start values.
  float volume = 0.1f;
  ElementSwitches play;
};

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) {
  const std::vector<std::pair<double, int32_t>> cases = {{0.5, 0},
                                                         {1.5, 2},
                                                         {2.5, 2},
                                                         {12.5, 12},
                                                         {-1.5, -2},
                                                         {-2.6, -3},
                                                         {55 * double{0.1f}, 6},
                                                         {std::nan(""), 0},
                                                         {1e12, INT32_MAX},
                                                         {-1e12, INT32_MIN}};
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(RoundHalfEven(value), expected) << value;
  }
}

TEST_F(SonificationTest, VolumesAndFrequenciesOfEachMode) {
  Load(
      {"cpu", "cpua", "cpub", "ram", "rama", "ramb", "Disk", "Diska", "Diskb"});
  Load(PerCore("cpu"));
  Load(PerCore("cpua"));
  Load(PerCore("cpub"));
  state.HasDiskSounds = 1;
  struct Case {
    float volume;
    int32_t mode, level;
    // Averages CPU, per-core CPU, RAM and disk: the single sound's volume,
    // or "a" and "b" for mode 2.
    std::vector<int32_t> cpu, core, other;
  };
  const std::vector<Case> cases = {
      {0.5f, 2, 30, {35, 15}, {35, 15}, {35, 15}},
      {0.5f, 2, 25, {38, 12}, {38, 12}, {38, 12}},
      {0.5f, 2, 75, {12, 38}, {12, 38}, {12, 38}},
      {1.0f, 2, 120, {0, 100}, {0, 100}, {0, 100}},
      {0.1f, 2, 55, {5, 6}, {5, 6}, {5, 6}},  // 45 * 0.1f is above 4.5
      {0.1f, 0, 55, {6}, {5}, {6}},           // truncated per core
      {0.29f, 1, 40, {28}, {28}, {29}},       // truncated for the CPU
      {0.1f, 1, 0, {10}, {10}, {10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " level "
                                      << c.level << " volume " << c.volume);
    volume = c.volume;
    state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = c.mode;
    state.CpuLevel = state.RAMLevel = state.DiskLevel = c.level;
    state.CoreLevels.assign(4, c.level);
    auto check = [&](const std::string& key, const std::string& core,
                     const std::vector<int32_t>& expected) {
      if (c.mode == 2) {
        EXPECT_EQ(Volume(key + "a" + core), expected[0]) << key << core;
        EXPECT_EQ(Volume(key + "b" + core), expected[1]) << key << core;
      } else {
        EXPECT_EQ(Volume(key + core), expected[0]) << key << core;
      }
    };
    state.UseAverages = 1;
    UpdateSounds(state, monitor, volume, rig.engine);
    check("cpu", "", c.cpu);
    check("ram", "", c.other);
    check("Disk", "", c.other);
    state.UseAverages = 0;
    UpdateSounds(state, monitor, volume, rig.engine);
    for (int n = 0; n < 4; ++n) check("cpu", std::to_string(n), c.core);
  }
}

TEST_F(SonificationTest, PitchModeSpansTwentyTwoToSeventyTwoKilohertz) {
  Load({"cpu", "ram"});
  state.CPUSoundMode = state.RAMSoundMode = 1;
  const std::vector<std::pair<int32_t, uint32_t>> steps = {
      {0, 22050},
      {100, 72050},
      {50, 47050},
      {400, 47050},  // 222050 Hz is refused: the last frequency stays
      {-50, 47050}};
  for (const auto& [level, hz] : steps) {
    state.CpuLevel = level;
    state.RAMLevel = level;
    UpdateSounds(state, monitor, volume, rig.engine);
    EXPECT_EQ(rig.Buffer("cpu").frequency, hz) << level;
    EXPECT_EQ(rig.Buffer("ram").frequency, hz) << level;
  }
}

TEST_F(SonificationTest, AveragesModeHoldsATargetUntilReached) {
  Load({"cpu"});
  state.CPUSoundMode = 0;
  state.CpuLevel = state.RAMLevel = 20;
  monitor.CoreLoads.assign(4, 60);
  monitor.RAMLoad = 60;
  Pass(2);
  monitor.CoreLoads.assign(4, 30);
  monitor.RAMLoad = 30;
  Pass(38);  // 22 -> 60, the target held though the load fell
  EXPECT_EQ(state.CpuTarget, 60);
  EXPECT_EQ(state.RAMTarget, 60);
  EXPECT_EQ(state.CpuLevel, 60);
  EXPECT_EQ(state.CpuSliding, 1);
  Pass();  // finds the target: ends the slide without moving
  EXPECT_EQ(state.CpuLevel, 60);
  EXPECT_EQ(state.CpuSliding, 0);
  EXPECT_EQ(state.RAMSliding, 0);
  Pass();
  EXPECT_EQ(state.CpuTarget, 30);
  EXPECT_EQ(state.RAMTarget, 30);
  EXPECT_EQ(state.CpuLevel, 59);
  EXPECT_EQ(state.RAMLevel, 59);
  EXPECT_EQ(Volume("cpu"), 6);
}

TEST_F(SonificationTest, PerCoreTargetsFollowTheLatestLoad) {
  state.UseAverages = 0;
  state.CPUSoundMode = 2;
  state.CoreLevels.assign(4, 20);
  monitor.CoreLoads = {30.5, 31.5, 60, 60};
  Pass(2);
  EXPECT_EQ(state.CoreTargets, (std::vector<int32_t>{30, 32, 60, 60}));
  monitor.CoreLoads = {10, 22, 60, 15};
  Pass();
  EXPECT_EQ(state.CoreLevels, (std::vector<int32_t>{21, 22, 23, 21}));
  EXPECT_EQ(state.CoreSliding, (std::vector<int32_t>{1, 0, 1, 1}));
  EXPECT_EQ(state.CpuLevel, 0);
  EXPECT_EQ(state.CpuSliding, 0);
}

TEST_F(SonificationTest, OddSettingsAndShortTables) {
  Load({"cpu", "cpua", "cpub", "ram", "Disk"});
  // Any non-zero UseAverages moves the CPU level.
  state.UseAverages = 2;
  state.CPUSoundMode = 0;
  monitor.CoreLoads.assign(4, 10);
  monitor.DiskLoad = 50;
  Pass(3);
  EXPECT_EQ(state.CpuLevel, 3);
  // Without disk sounds the disk slide is taken once and never runs.
  EXPECT_EQ(state.DiskSliding, 1);
  EXPECT_EQ(state.DiskLevel, 0);
  EXPECT_TRUE(rig.Buffer("Disk").calls.empty());

  // Modes beyond 0..2 take no CPU target and change no sound.
  state.CpuSliding = 0;
  state.CPUSoundMode = 3;
  state.RAMSoundMode = -1;
  StartSounds(state, monitor, play, rig.engine);
  Pass(3);
  EXPECT_EQ(state.CpuSliding, 0);
  EXPECT_EQ(rig.Buffer("cpua").calls.back(), "Play 1");
  EXPECT_EQ(Volume("cpua"), 9);
  EXPECT_EQ(rig.Buffer("ram").calls.back(), "Play 1");

  // Per-core tables shorter than the core count are grown, not overrun.
  state.UseAverages = 0;
  state.CPUSoundMode = 0;
  state.CoreLevels.clear();
  state.CoreSliding.resize(1);
  Pass();
  EXPECT_EQ(state.CoreLevels, (std::vector<int32_t>{1, 1, 1, 1}));
}

TEST_F(SonificationTest, StartVolumesAndSwitches) {
  Load({"cpua", "cpub", "rama", "ramb", "Diska", "Diskb"});
  state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = 2;
  state.HasDiskSounds = 1;
  for (const auto& [key, buffer] : rig.buffers) {
    rig.engine.SetVolume(rig.Handle(key), 100);
  }
  StartSounds(state, monitor, play, rig.engine);
  for (const auto& [key, buffer] : rig.buffers) {
    EXPECT_EQ(Volume(key), key == "cpua" ? 9 : 0) << key;
    EXPECT_TRUE(buffer->playing && buffer->looping) << key;
    EXPECT_EQ(buffer->pan, 0) << key;
  }
  play.PlayCPU = 0;
  play.PlayDisk = 2;  // only 1 is on
  StartSounds(state, monitor, play, rig.engine);
  EXPECT_EQ(rig.Buffer("cpua").play_count, 1);
  EXPECT_EQ(rig.Buffer("rama").play_count, 2);
  EXPECT_EQ(rig.Buffer("Diskb").play_count, 1);
  play.PlayDisk = 1;
  state.HasDiskSounds = 0;
  StartSounds(state, monitor, play, rig.engine);
  EXPECT_EQ(rig.Buffer("Diskb").play_count, 1);
}

TEST(PanTableTest, CoresSpreadFromLeftToRight) {
  std::vector<int32_t> sixteen;
  for (int n = 0; n < 15; ++n) sixteen.push_back(-100 + 14 * n);
  sixteen.push_back(100);
  const std::vector<std::vector<int32_t>> tables = {
      {0},
      {-100, 100},
      {-100, -33, 34, 100},
      {-100, -71, -42, -13, 16, 45, 74, 100},
      sixteen};
  for (const auto& pans : tables) {
    const int cores = static_cast<int>(pans.size());
    testing::SoundpackRig rig(cores);
    testing::WriteWav(rig.temp / "tone.wav", 22050);
    for (const std::string& key : PerCore("cpua", cores)) {
      rig.LoadAs(key, rig.temp / "tone.wav");
    }
    for (const std::string& key : PerCore("cpub", cores)) {
      rig.LoadAs(key, rig.temp / "tone.wav");
    }
    rig.state.UseAverages = 0;
    rig.state.CPUSoundMode = 2;
    ElementSwitches play;
    play.PlayCPU = 0;  // the pans are set all the same
    StartSounds(rig.state, rig.monitor, play, rig.engine);
    for (int n = 0; n < cores; ++n) {
      for (const std::string key : {"cpua", "cpub"}) {
        EXPECT_EQ(rig.Buffer(key + std::to_string(n)).calls,
                  std::vector<std::string>{
                      "SetPan " + std::to_string(rig.DevicePan(pans[n]))})
            << cores << " cores, " << key << n;
      }
    }
  }
}

}  // namespace
}  // namespace veska
