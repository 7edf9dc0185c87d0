#include "soundpack/soundpack_loader.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "soundpack_rig.h"

namespace veska {
namespace {

using Keys = std::set<std::string>;

class LoaderTest : public ::testing::Test {
 protected:
  // A pack with the given prefs.ini and a 22050 Hz WAV file under each name
  // (whatever the extension: the content decides the format).
  std::string Pack(const std::string& prefs,
                   const std::vector<std::string>& files) {
    const std::string folder = rig.Folder("pack" + std::to_string(++packs_));
    testing::WriteFile(folder + "prefs.ini", prefs);
    for (const std::string& file : files)
      testing::WriteWav(folder + file, 22050);
    return folder;
  }
  // Every key in the table; each must hold a sound unless `silent`.
  Keys Loaded(bool silent = false) {
    Keys keys;
    state.SoundTable.ForEach([&](const std::string& key, int32_t handle) {
      EXPECT_EQ(handle == 0, silent) << key;
      keys.insert(key);
    });
    return keys;
  }

  testing::SoundpackRig rig{4};
  SoundpackState& state = rig.state;
  int packs_ = 0;
};

TEST_F(LoaderTest, PrefsWithoutTheGroupGiveTheDefaults) {
  // Start values unlike every default, so that a skipped read shows.
  state.UseAverages = 7;
  state.SlideInterval = 5;
  state.FrequencyFluctuation = 1;
  state.CPUSoundMode = state.RAMSoundMode = state.DiskSoundMode = 2;
  rig.Load(Pack("[other]\nUseAverages=0\nCPUSoundMode=2\n",
                {"cpu.wav", "ram.wav", "cpu_a.wav"}));
  EXPECT_EQ(
      std::vector<int32_t>({state.UseAverages, state.CPUSoundMode,
                            state.RAMSoundMode, state.SlideInterval,
                            state.FrequencyFluctuation, state.DiskSoundMode}),
      std::vector<int32_t>({1, 1, 1, 100, 0, 1}));
  EXPECT_EQ(Loaded(), (Keys{"cpu", "ram"}));
  EXPECT_TRUE(rig.shell.messages().empty());
}

TEST_F(LoaderTest, ReadsTheGroupAndLoadsPerCore) {
  rig.Load(
      Pack("[soundpack]\nUseAverages=0\nCPUSoundMode=0\n"
           "RAMSoundMode=2\nSlideInterval=40\n"
           "FrequencyFluctuation=3\nDiskSoundMode=0\n",
           {"cpu.wav", "ram_a.wav", "ram_b.wav", "Disk.wav"}));
  EXPECT_EQ(state.SlideInterval, 40);
  EXPECT_EQ(state.FrequencyFluctuation, 3);
  EXPECT_EQ(state.HasDiskSounds, 1);
  EXPECT_EQ(Loaded(),
            (Keys{"cpu0", "cpu1", "cpu2", "cpu3", "rama", "ramb", "Disk"}));
  // Only FrequencyFluctuation 1 detunes.
  EXPECT_EQ(rig.engine.GetFrequency(rig.Handle("cpu3")), 22050u);
}

TEST_F(LoaderTest, ExtensionComesFromElementFilesInNameOrder) {
  struct Case {
    std::vector<std::string> files;
    std::string previous, expected;
  };
  const std::vector<Case> cases = {
      // A stray file never silences a pack, wherever it is listed.
      {{"readme.txt", "cpu.ogg", "Disk.ogg", "prefs.ini", "zz.notes"},
       "wav",
       ".ogg"},
      {{"ram.flac", "cpu.wav", "prefs.ini"}, "wav", ".flac"},
      {{"cpu.ini", "cpu.ogg", "zzz.txt"}, "wav", ".ogg"},
      // Only exact, case-sensitive element names with an extension count.
      {{"cpu.ogg", "cpu_c.txt", "Diskette.mp3"}, "", ".ogg"},
      {{"disk.ogg", "z.txt"}, "wav", ".txt"},
      {{"cpu", "ram.wav"}, ".ogg", ".wav"},
      // Without element files: the last other file that is not ".ini".
      {{"b.txt", "a.dat", "prefs.ini"}, "wav", ".txt"},
      {{"prefs.ini"}, ".flac", ".flac"},
      {{"prefs.INI"}, ".ogg", ".INI"},
      // No usable extension is the empty one, which still replaces.
      {{"readme"}, ".ogg", "."},
      {{".hidden"}, ".ogg", "."},
      {{"old. copy"}, ".ogg", "."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseSoundExtension(c.files, c.previous), c.expected)
        << c.files.front();
  }
}

TEST_F(LoaderTest, StrayFilesAndDiskNames) {
  rig.Load(Pack("[soundpack]\n",
                {"cpu.ogg", "Disk.ogg", "ram.ogg", "readme.txt", "zz.notes"}));
  EXPECT_EQ(state.SoundExtension, ".ogg");
  EXPECT_EQ(Loaded(), (Keys{"cpu", "ram", "Disk"}));

  // Without element files a stray file decides, and the pack is silent.
  state.SoundTable.Clear();
  rig.Load(Pack("[soundpack]\n", {"notes.txt"}));
  EXPECT_EQ(state.SoundExtension, ".txt");
  // Disk sounds, once found, stay on for later packs.
  EXPECT_EQ(Loaded(true), (Keys{"cpu", "ram", "Disk"}));
}

TEST_F(LoaderTest, AnyFileNamingDiskMarksDiskSounds) {
  const std::string plain = Pack("[soundpack]\n", {"cpu.wav", "ram.wav"});
  rig.Load(plain);
  EXPECT_EQ(state.HasDiskSounds, 0);
  EXPECT_EQ(Loaded(), (Keys{"cpu", "ram"}));

  const std::string folder =
      Pack("[soundpack]\nDiskSoundMode=2\n", {"cpu.wav", "ram.wav"});
  testing::WriteFile(folder + "MyDISK.txt", "notes");
  std::filesystem::create_directories(folder + "ram.zzz");  // folders skipped
  state.SoundTable.Clear();
  rig.Load(folder);
  EXPECT_EQ(state.HasDiskSounds, 1);
  EXPECT_EQ(state.SoundExtension, ".wav");
  EXPECT_EQ(rig.Handle("Diska"), 0);  // still looked for as "/Disk_a"
  EXPECT_EQ(rig.Handle("Diskb"), 0);
}

TEST_F(LoaderTest, PerCorePairsMakeEightSoundsFromTwoFiles) {
  const std::string folder = Pack(
      "[soundpack]\nUseAverages=0\nCPUSoundMode=2\n", {"ram.wav", "cpu_a.wav"});
  testing::WriteWav(folder + "cpu_b.wav", 44100);
  rig.Load(folder);
  std::set<int32_t> handles;
  for (int n = 0; n < 4; ++n) {
    const std::string core = std::to_string(n);
    EXPECT_EQ(rig.engine.GetFrequency(rig.Handle("cpua" + core)), 22050u);
    EXPECT_EQ(rig.engine.GetFrequency(rig.Handle("cpub" + core)), 44100u);
    handles.insert({rig.Handle("cpua" + core), rig.Handle("cpub" + core)});
  }
  EXPECT_EQ(handles.size(), 8u);
  EXPECT_EQ(rig.device.buffers.size(), 9u);  // and "ram"
  EXPECT_EQ(Loaded().size(), 9u);
}

TEST_F(LoaderTest, DetuneGivesEachCoreOneOffsetWithinBounds) {
  testing::SoundpackRig big(64);
  const std::string folder = big.Folder("detuned");
  testing::WriteFile(folder + "prefs.ini",
                     "[soundpack]\nUseAverages=0\nCPUSoundMode=2\n"
                     "FrequencyFluctuation=1\n");
  testing::WriteWav(folder + "cpu_a.wav", 22050);
  testing::WriteWav(folder + "cpu_b.wav", 44100);
  big.Load(folder);
  std::set<int64_t> offsets;
  int64_t last = 0;
  for (int n = 0; n < 64; ++n) {
    const std::string core = std::to_string(n);
    last = int64_t{big.engine.GetFrequency(big.Handle("cpua" + core))} - 22050;
    EXPECT_EQ(last + 44100, big.engine.GetFrequency(big.Handle("cpub" + core)));
    EXPECT_LE(std::abs(last), 1000);
    offsets.insert(last);
  }
  EXPECT_GT(offsets.size(), 32u);
  EXPECT_EQ(big.state.FrequencyOffset, last);

  // Averages mode is never detuned, and draws nothing.
  rig.Load(Pack("[soundpack]\nFrequencyFluctuation=1\n", {"cpu.wav"}));
  EXPECT_EQ(rig.engine.GetFrequency(rig.Handle("cpu")), 22050u);
  EXPECT_EQ(state.FrequencyOffset, 0);
}

TEST_F(LoaderTest, ModesThreeAndNegativeChooseByTwo) {
  rig.Load(
      Pack("[soundpack]\nCPUSoundMode=3\nRAMSoundMode=-1\n"
           "DiskSoundMode=9\n",
           {"cpu.wav", "cpu_a.wav", "cpu_b.wav", "ram.wav", "ram_a.wav",
            "ram_b.wav", "Disk_a.wav", "Disk_b.wav"}));
  EXPECT_EQ(Loaded(), (Keys{"cpua", "cpub", "ram", "Diska", "Diskb"}));
}

TEST_F(LoaderTest, KeysAreCaseSensitive) {
  rig.Load(Pack("[soundpack]\n", {"cpu.wav", "Disk.wav"}));
  const std::size_t before = state.SoundTable.Size();
  EXPECT_NE(rig.Handle("Disk"), 0);
  EXPECT_EQ(rig.Handle("disk"), 0);
  EXPECT_EQ(state.SoundTable.Size(), before + 1);
  rig.state.SoundTable.FindOrAdd("disk") = 77;  // a slot of its own
  EXPECT_NE(rig.Handle("Disk"), 77);
}

}  // namespace
}  // namespace veska
