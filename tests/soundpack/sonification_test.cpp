#include "soundpack/sonification.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "soundpack_rig.h"

namespace veska {
namespace {

using testing::SoundpackRig;

class SonificationTest : public ::testing::Test {
 protected:
  SonificationTest() {
    wav_ = rig.temp.path() / "tone.wav";
    testing::WriteWav(wav_, 22050, 64);
  }

  void Load(const std::vector<std::string>& keys) {
    for (const std::string& key : keys) rig.LoadAs(key, wav_);
  }
  static std::vector<std::string> PerCore(const std::string& key, int cores) {
    std::vector<std::string> keys;
    for (int n = 0; n < cores; ++n) keys.push_back(key + std::to_string(n));
    return keys;
  }
  int32_t Volume(const std::string& key) { return rig.Buffer(key)->volume; }
  uint32_t Frequency(const std::string& key) {
    return rig.Buffer(key)->frequency;
  }
  int32_t Dev(int32_t volume) { return rig.DeviceVolume(volume); }
  void SetAllCoreLoads(double load) {
    for (double& core : state.CoreLoads) core = load;
  }

  SoundpackRig rig{4};
  AppState& state = rig.state;
  std::filesystem::path wav_;
};

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(12.5), 12);
  EXPECT_EQ(RoundHalfEven(37.5), 38);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(-2.6), -3);
  EXPECT_EQ(RoundHalfEven(2.4999999), 2);
  EXPECT_EQ(RoundHalfEven(55 * static_cast<double>(0.1f)), 6);
  EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
  EXPECT_EQ(RoundHalfEven(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundHalfEven(-1e12), std::numeric_limits<int32_t>::min());
}

TEST_F(SonificationTest, PitchModeSpansTwentyTwoToSeventyTwoKilohertz) {
  Load({"cpu", "ram"});
  state.UseAverages = 1;
  state.CPUSoundMode = 1;
  state.RAMSoundMode = 1;
  state.Volume = 0.1f;
  UpdateSounds(state);
  EXPECT_EQ(Frequency("cpu"), 22050u);
  EXPECT_EQ(Volume("cpu"), Dev(10));
  state.CpuLevel = 100;
  state.RAMLevel = 37;
  UpdateSounds(state);
  EXPECT_EQ(Frequency("cpu"), 72050u);
  EXPECT_EQ(Volume("cpu"), Dev(10));
  EXPECT_EQ(Frequency("ram"), 40550u);
  EXPECT_EQ(Volume("ram"), Dev(10));
}

TEST_F(SonificationTest, PitchOutsideTheDeviceRangeKeepsTheLastFrequency) {
  Load({"cpu"});
  state.CPUSoundMode = 1;
  state.CpuLevel = 50;
  UpdateSounds(state);
  ASSERT_EQ(Frequency("cpu"), 47050u);
  state.CpuLevel = 400;  // 222050 Hz
  UpdateSounds(state);
  EXPECT_EQ(Frequency("cpu"), 47050u);
  state.CpuLevel = -50;  // below zero Hz
  UpdateSounds(state);
  EXPECT_EQ(Frequency("cpu"), 47050u);
}

TEST_F(SonificationTest, CrossFadeRoundsHalvesToEven) {
  Load({"cpua", "cpub", "rama", "ramb", "Diska", "Diskb"});
  state.UseAverages = 1;
  state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = 2;
  state.HasDiskSounds = 1;
  state.Volume = 0.5f;
  struct Case {
    int32_t level, a, b;
  };
  for (const Case c : {Case{30, 35, 15}, Case{25, 38, 12}, Case{75, 12, 38},
                       Case{0, 50, 0}, Case{100, 0, 50}}) {
    state.CpuLevel = state.RAMLevel = state.DiskLevel = c.level;
    UpdateSounds(state);
    for (const std::string key : {"cpu", "ram", "Disk"}) {
      EXPECT_EQ(Volume(key + "a"), Dev(c.a)) << key << " at " << c.level;
      EXPECT_EQ(Volume(key + "b"), Dev(c.b)) << key << " at " << c.level;
    }
  }
}

TEST_F(SonificationTest, CrossFadeAboveFullLoadSilencesTheIdleSound) {
  Load({"rama", "ramb"});
  state.RAMSoundMode = 2;
  state.Volume = 1.0f;
  state.RAMLevel = 120;
  UpdateSounds(state);
  EXPECT_EQ(Volume("rama"), Dev(0));
  EXPECT_EQ(Volume("ramb"), Dev(100));
}

TEST_F(SonificationTest, VolumeModeRoundsForAveragesAndTruncatesPerCore) {
  Load({"cpu", "ram", "Disk", "cpua", "cpub"});
  state.Volume = 0.1f;
  state.UseAverages = 1;
  state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = 0;
  state.HasDiskSounds = 1;
  state.CpuLevel = state.RAMLevel = state.DiskLevel = 55;
  UpdateSounds(state);
  EXPECT_EQ(Volume("cpu"), Dev(6));
  EXPECT_EQ(Volume("ram"), Dev(6));
  EXPECT_EQ(Volume("Disk"), Dev(6));

  state.CPUSoundMode = 2;
  state.CpuLevel = 55;
  UpdateSounds(state);
  EXPECT_EQ(Volume("cpub"), Dev(6));
}

TEST_F(SonificationTest, PerCoreVolumeModeTruncatesAndCrossFadeRounds) {
  Load(PerCore("cpu", 4));
  Load(PerCore("cpua", 4));
  Load(PerCore("cpub", 4));
  state.UseAverages = 0;
  state.Volume = 0.1f;
  state.CPUSoundMode = 0;
  state.CoreLevels = {55, 10, 0, 99};
  UpdateSounds(state);
  EXPECT_EQ(Volume("cpu0"), Dev(5));
  EXPECT_EQ(Volume("cpu1"), Dev(1));
  EXPECT_EQ(Volume("cpu2"), Dev(0));
  EXPECT_EQ(Volume("cpu3"), Dev(9));

  state.CPUSoundMode = 2;
  UpdateSounds(state);
  EXPECT_EQ(Volume("cpub0"), Dev(6));
  EXPECT_EQ(Volume("cpua0"), Dev(5));  // 45 * 0.1f is just above 4.5
  EXPECT_EQ(Volume("cpua3"), Dev(0));
  EXPECT_EQ(Volume("cpub3"), Dev(10));
}

TEST_F(SonificationTest, PitchModeVolumeTruncatesForCpuOnly) {
  Load({"cpu", "ram", "Disk"});
  Load(PerCore("cpu", 4));
  state.Volume = 0.29f;
  state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = 1;
  state.HasDiskSounds = 1;
  state.UseAverages = 1;
  UpdateSounds(state);
  EXPECT_EQ(Volume("cpu"), Dev(28));
  EXPECT_EQ(Volume("ram"), Dev(29));
  EXPECT_EQ(Volume("Disk"), Dev(29));
  state.UseAverages = 0;
  UpdateSounds(state);
  for (const std::string& key : PerCore("cpu", 4)) {
    EXPECT_EQ(Volume(key), Dev(28)) << key;
  }
}

TEST_F(SonificationTest, ModesOutsideZeroToTwoAreLeftAlone) {
  Load({"cpua", "cpub", "ram", "Disk"});
  state.UseAverages = 1;
  state.CPUSoundMode = 3;
  state.RAMSoundMode = -1;
  state.DiskSoundMode = 7;
  state.HasDiskSounds = 1;
  state.PlayCPU = state.PlayRAM = state.PlayDisk = 1;
  StartSounds(state);
  EXPECT_EQ(Volume("cpua"), Dev(9));
  EXPECT_EQ(Volume("cpub"), Dev(0));
  const std::size_t calls = rig.Buffer("cpua")->calls.size();

  SetAllCoreLoads(80);
  state.RAMLoad = 80;
  for (int pass = 0; pass < 5; ++pass) {
    UpdateTargets(state);
    UpdateSounds(state);
  }
  // No CPU target is ever taken; the others slide but change no sound.
  EXPECT_EQ(state.CpuSliding, 0);
  EXPECT_EQ(state.CpuLevel, 0);
  EXPECT_EQ(state.RAMLevel, 5);
  EXPECT_EQ(rig.Buffer("cpua")->calls.size(), calls);
  EXPECT_EQ(Volume("cpua"), Dev(9));
  EXPECT_EQ(Volume("cpub"), Dev(0));
  EXPECT_EQ(Volume("ram"), Dev(0));
}

TEST_F(SonificationTest, TargetsRoundTheLoads) {
  state.UseAverages = 0;
  state.CPUSoundMode = 2;
  state.CoreLoads = {30.5, 31.5, 99.49, 0.0};
  state.RAMLoad = 74.5f;
  state.DiskLoad = 12.5;
  UpdateTargets(state);
  EXPECT_EQ(state.CoreTargets, (std::vector<int32_t>{30, 32, 99, 0}));
  EXPECT_EQ(state.CoreSliding, (std::vector<int32_t>{1, 1, 1, 1}));
  EXPECT_EQ(state.CpuSliding, 0);
  EXPECT_EQ(state.RAMTarget, 74);
  EXPECT_EQ(state.DiskTarget, 12);
  EXPECT_EQ(state.RAMSliding, 1);
  EXPECT_EQ(state.DiskSliding, 1);
}

TEST_F(SonificationTest, AveragesModeHoldsATargetUntilReached) {
  Load({"cpu", "ram"});
  state.UseAverages = 1;
  state.CPUSoundMode = 0;
  state.CpuLevel = 20;
  state.RAMLevel = 20;
  SetAllCoreLoads(60);
  state.RAMLoad = 60;
  UpdateTargets(state);
  ASSERT_EQ(state.CpuTarget, 60);
  UpdateSounds(state);
  UpdateSounds(state);
  EXPECT_EQ(state.CpuLevel, 22);

  SetAllCoreLoads(30);
  state.RAMLoad = 30;
  int steps = 2;
  while (state.CpuSliding == 1 && steps < 1000) {
    UpdateTargets(state);
    EXPECT_EQ(state.CpuTarget, 60);
    EXPECT_EQ(state.RAMTarget, 60);
    UpdateSounds(state);
    ++steps;
  }
  // 40 steps up, and one more that finds the target and ends the slide.
  EXPECT_EQ(steps, 41);
  EXPECT_EQ(state.CpuLevel, 60);
  EXPECT_EQ(state.RAMLevel, 60);
  EXPECT_EQ(state.RAMSliding, 0);
  UpdateTargets(state);
  EXPECT_EQ(state.CpuTarget, 30);
  EXPECT_EQ(state.RAMTarget, 30);
  UpdateSounds(state);
  EXPECT_EQ(state.CpuLevel, 59);
  EXPECT_EQ(Volume("cpu"), Dev(6));  // round(59 * 0.1)
}

TEST_F(SonificationTest, AJumpToFiftyTakesFiftyStepsAndOneToSettle) {
  state.UseAverages = 1;
  state.CPUSoundMode = 1;
  SetAllCoreLoads(50);
  UpdateTargets(state);
  for (int step = 1; step <= 50; ++step) {
    UpdateSounds(state);
    ASSERT_EQ(state.CpuLevel, step);
    ASSERT_EQ(state.CpuSliding, 1);
  }
  UpdateSounds(state);
  EXPECT_EQ(state.CpuLevel, 50);
  EXPECT_EQ(state.CpuSliding, 0);
}

TEST_F(SonificationTest, PerCoreTargetsFollowTheLatestLoad) {
  state.UseAverages = 0;
  state.CPUSoundMode = 2;
  state.CoreLevels = {20, 20, 20, 20};
  SetAllCoreLoads(60);
  UpdateTargets(state);
  UpdateSounds(state);
  UpdateSounds(state);
  EXPECT_EQ(state.CoreLevels[0], 22);
  state.CoreLoads = {10, 22, 60, 15};
  UpdateTargets(state);
  UpdateSounds(state);
  EXPECT_EQ(state.CoreLevels, (std::vector<int32_t>{21, 22, 23, 21}));
  EXPECT_EQ(state.CoreSliding, (std::vector<int32_t>{1, 0, 1, 1}));
  EXPECT_EQ(state.CpuLevel, 0);
}

TEST_F(SonificationTest, AnyNonZeroUseAveragesMovesTheCpuLevel) {
  Load({"cpu"});
  state.UseAverages = 2;
  state.CPUSoundMode = 0;
  state.Volume = 1.0f;
  SetAllCoreLoads(10);
  for (int pass = 0; pass < 3; ++pass) {
    UpdateTargets(state);
    UpdateSounds(state);
  }
  EXPECT_EQ(state.CpuLevel, 3);
  EXPECT_EQ(Volume("cpu"), Dev(3));
  EXPECT_EQ(state.CoreLevels, (std::vector<int32_t>{0, 0, 0, 0}));
}

TEST_F(SonificationTest, WithoutDiskSoundsTheDiskSlideNeverRuns) {
  Load({"Disk"});
  state.HasDiskSounds = 0;
  state.DiskSoundMode = 0;
  state.DiskLoad = 50;
  for (int pass = 0; pass < 3; ++pass) {
    UpdateTargets(state);
    UpdateSounds(state);
  }
  EXPECT_EQ(state.DiskSliding, 1);
  EXPECT_EQ(state.DiskTarget, 50);
  EXPECT_EQ(state.DiskLevel, 0);
  EXPECT_TRUE(rig.Buffer("Disk")->calls.empty());
  StartSounds(state);
  EXPECT_EQ(rig.Buffer("Disk")->play_count, 0);
}

TEST_F(SonificationTest, ShortPerCoreTablesAreGrownNotOverrun) {
  state.UseAverages = 0;
  state.CPUSoundMode = 0;
  state.CoreLevels.clear();
  state.CoreTargets.clear();
  state.CoreSliding.resize(1);
  SetAllCoreLoads(40);
  UpdateTargets(state);
  UpdateSounds(state);
  EXPECT_EQ(state.CoreLevels, (std::vector<int32_t>{1, 1, 1, 1}));
}

TEST_F(SonificationTest, StartVolumesAndLooping) {
  Load({"cpua", "cpub", "rama", "ramb", "Diska", "Diskb"});
  state.UseAverages = 1;
  state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = 2;
  state.HasDiskSounds = 1;
  for (const std::string key : {"cpua", "cpub", "rama", "ramb", "Diska"}) {
    rig.engine.SetVolume(state.SoundTable.FindOrAdd(key), 100);
  }
  StartSounds(state);
  EXPECT_EQ(Volume("cpua"), Dev(9));
  for (const std::string key : {"cpub", "rama", "ramb", "Diska", "Diskb"}) {
    EXPECT_EQ(Volume(key), Dev(0)) << key;
  }
  for (const std::string key :
       {"cpua", "cpub", "rama", "ramb", "Diska", "Diskb"}) {
    EXPECT_TRUE(rig.Buffer(key)->playing && rig.Buffer(key)->looping) << key;
    EXPECT_EQ(rig.Buffer(key)->pan, 0) << key;
  }
}

TEST_F(SonificationTest, StartSoundsHonoursTheSwitches) {
  Load({"cpu", "ram", "Disk"});
  state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = 1;
  state.HasDiskSounds = 1;
  state.PlayCPU = 0;
  state.PlayRAM = 1;
  state.PlayDisk = 2;  // only 1 is on
  StartSounds(state);
  EXPECT_EQ(rig.Buffer("cpu")->play_count, 0);
  EXPECT_EQ(rig.Buffer("ram")->play_count, 1);
  EXPECT_EQ(rig.Buffer("Disk")->play_count, 0);
}

TEST_F(SonificationTest, PerCoreStartAtZeroAcrossTheStereoField) {
  Load(PerCore("cpua", 4));
  Load(PerCore("cpub", 4));
  state.UseAverages = 0;
  state.CPUSoundMode = 2;
  StartSounds(state);
  const int32_t expected[] = {-100, -33, 34, 100};
  for (int n = 0; n < 4; ++n) {
    for (const std::string key : {"cpua", "cpub"}) {
      const auto buffer = rig.Buffer(key + std::to_string(n));
      EXPECT_EQ(buffer->pan, rig.DevicePan(expected[n])) << key << n;
      EXPECT_EQ(buffer->volume, Dev(0)) << key << n;
      EXPECT_TRUE(buffer->looping);
    }
  }
  EXPECT_EQ(state.PanStep, 67);
}

TEST(PanTableTest, CoresSpreadFromLeftToRight) {
  struct Case {
    int cores;
    int32_t step;
    std::vector<int32_t> pans;
  };
  std::vector<int32_t> sixteen;
  for (int n = 0; n < 15; ++n) sixteen.push_back(-100 + 14 * n);
  sixteen.push_back(100);
  const std::vector<Case> cases = {
      {2, 201, {-100, 100}},
      {4, 67, {-100, -33, 34, 100}},
      {8, 29, {-100, -71, -42, -13, 16, 45, 74, 100}},
      {16, 14, sixteen},
      {1, 0, {0}}};
  for (const Case& c : cases) {
    SoundpackRig rig(c.cores);
    const auto wav = rig.temp.path() / "tone.wav";
    testing::WriteWav(wav, 22050, 64);
    for (int n = 0; n < c.cores; ++n)
      rig.LoadAs("cpu" + std::to_string(n), wav);
    rig.state.UseAverages = 0;
    rig.state.CPUSoundMode = 1;
    // The pans are set even while the CPU sounds are switched off.
    rig.state.PlayCPU = 0;
    StartSounds(rig.state);
    EXPECT_EQ(rig.state.PanStep, c.step) << c.cores << " cores";
    for (int n = 0; n < c.cores; ++n) {
      const auto buffer = rig.Buffer("cpu" + std::to_string(n));
      EXPECT_EQ(buffer->calls,
                std::vector<std::string>{
                    "SetPan " + std::to_string(rig.DevicePan(c.pans[n]))})
          << c.cores << " cores, core " << n;
      EXPECT_EQ(buffer->play_count, 0);
    }
  }
}

TEST_F(SonificationTest, AveragesModeSetsNoPan) {
  Load({"cpu"});
  Load(PerCore("cpu", 4));
  state.UseAverages = 1;
  state.CPUSoundMode = 1;
  StartSounds(state);
  for (const std::string& key : PerCore("cpu", 4)) {
    EXPECT_TRUE(rig.Buffer(key)->calls.empty()) << key;
  }
  EXPECT_EQ(rig.Buffer("cpu")->play_count, 1);
}

}  // namespace
}  // namespace veska
