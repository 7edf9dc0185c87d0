#include "soundpack/soundpack_loader.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "soundpack_rig.h"

namespace veska {
namespace {

using testing::SoundpackRig;
using testing::WriteText;
using testing::WriteWav;

std::set<std::string> Keys(const SoundTable& table) {
  std::set<std::string> keys;
  table.ForEach([&](const std::string& key, int32_t) { keys.insert(key); });
  return keys;
}

class LoaderTest : public ::testing::Test {
 protected:
  // A pack folder with the given prefs.ini text and a WAV file under each
  // name (any extension: the content decides the format).
  std::string MakePack(const std::string& name, const std::string& prefs,
                       const std::vector<std::string>& files,
                       uint32_t rate = 22050) {
    const std::string folder = rig.temp.Folder(name);
    if (!prefs.empty()) WriteText(folder + "prefs.ini", prefs);
    for (const std::string& file : files) WriteWav(folder + file, rate, 64);
    return folder;
  }

  SoundpackRig rig{4};
  AppState& state = rig.state;
};

TEST_F(LoaderTest, PrefsWithoutTheGroupGiveTheDefaults) {
  const std::string folder =
      MakePack("plain", "[other]\nUseAverages=0\nCPUSoundMode=2\n",
               {"cpu.wav", "ram.wav", "cpu_a.wav", "cpu_b.wav"});
  // Start values that differ from every default.
  state.UseAverages = 7;
  state.CPUSoundMode = 2;
  state.RAMSoundMode = 2;
  state.SlideInterval = 5;
  state.FrequencyFluctuation = 1;
  state.DiskSoundMode = 2;

  LoadSoundpack(state, folder);

  EXPECT_EQ(state.UseAverages, 1);
  EXPECT_EQ(state.CPUSoundMode, 1);
  EXPECT_EQ(state.RAMSoundMode, 1);
  EXPECT_EQ(state.SlideInterval, 100);
  EXPECT_EQ(state.FrequencyFluctuation, 0);
  EXPECT_EQ(state.DiskSoundMode, 1);
  EXPECT_EQ(Keys(state.SoundTable), (std::set<std::string>{"cpu", "ram"}));
  EXPECT_NE(state.SoundTable.FindOrAdd("cpu"), 0);
  EXPECT_NE(state.SoundTable.FindOrAdd("ram"), 0);
  EXPECT_EQ(rig.device.buffers.size(), 2u);
  EXPECT_TRUE(rig.shell.messages().empty());
}

TEST_F(LoaderTest, ReadsEveryKeyOfTheGroup) {
  const std::string folder =
      MakePack("full",
               "[soundpack]\nUseAverages=0\nCPUSoundMode=0\nRAMSoundMode=2\n"
               "SlideInterval=40\nFrequencyFluctuation=3\nDiskSoundMode=0\n",
               {"cpu.wav", "ram_a.wav", "ram_b.wav", "Disk.wav"});
  LoadSoundpack(state, folder);
  EXPECT_EQ(state.UseAverages, 0);
  EXPECT_EQ(state.CPUSoundMode, 0);
  EXPECT_EQ(state.RAMSoundMode, 2);
  EXPECT_EQ(state.SlideInterval, 40);
  EXPECT_EQ(state.FrequencyFluctuation, 3);
  EXPECT_EQ(state.DiskSoundMode, 0);
  EXPECT_EQ(state.HasDiskSounds, 1);
  EXPECT_EQ(Keys(state.SoundTable),
            (std::set<std::string>{"cpu0", "cpu1", "cpu2", "cpu3", "rama",
                                   "ramb", "Disk"}));
  state.SoundTable.ForEach([](const std::string& key, int32_t handle) {
    EXPECT_NE(handle, 0) << key;
  });
  // FrequencyFluctuation other than 1 detunes nothing.
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(rig.engine.GetFrequency(
                  state.SoundTable.FindOrAdd("cpu" + std::to_string(n))),
              22050u);
  }
}

TEST_F(LoaderTest, ExtensionComesFromTheElementFiles) {
  const std::string folder =
      MakePack("ogg", "[soundpack]\n",
               {"cpu.ogg", "Disk.ogg", "ram.ogg", "readme.txt", "zz.notes"});
  LoadSoundpack(state, folder);
  EXPECT_EQ(state.SoundExtension, ".ogg");
  EXPECT_EQ(state.HasDiskSounds, 1);
  EXPECT_NE(state.SoundTable.FindOrAdd("cpu"), 0);
  EXPECT_NE(state.SoundTable.FindOrAdd("ram"), 0);
  EXPECT_NE(state.SoundTable.FindOrAdd("Disk"), 0);
}

TEST_F(LoaderTest, ExtensionRule) {
  // The last element file by name wins; ".ini" never counts.
  EXPECT_EQ(ChooseSoundExtension({"ram.flac", "cpu.wav", "prefs.ini"}, "wav"),
            ".flac");
  EXPECT_EQ(ChooseSoundExtension({"cpu.ini", "cpu.ogg", "zzz.txt"}, "wav"),
            ".ogg");
  // Names that merely start like an element do not count.
  EXPECT_EQ(ChooseSoundExtension({"cpu.ogg", "cpu_c.txt", "Diskette.mp3"}, ""),
            ".ogg");
  // Element names are case-sensitive: "disk.ogg" is not "Disk".
  EXPECT_EQ(ChooseSoundExtension({"disk.ogg", "z.txt"}, "wav"), ".txt");
  // Without element files, the last other file that is not ".ini".
  EXPECT_EQ(ChooseSoundExtension({"b.txt", "a.dat", "prefs.ini"}, "wav"),
            ".txt");
  EXPECT_EQ(ChooseSoundExtension({"prefs.ini"}, ".flac"), ".flac");
  EXPECT_EQ(ChooseSoundExtension({}, "wav"), "wav");
  // No extension, a leading dot only, or a blank after the dot: the empty
  // extension, which still replaces the previous one.
  EXPECT_EQ(ChooseSoundExtension({"readme"}, ".ogg"), ".");
  EXPECT_EQ(ChooseSoundExtension({".hidden"}, ".ogg"), ".");
  EXPECT_EQ(ChooseSoundExtension({"old. copy"}, ".ogg"), ".");
  // ".INI" is not ".ini".
  EXPECT_EQ(ChooseSoundExtension({"prefs.INI"}, ".ogg"), ".INI");
  // An element file without an extension cannot name its own format.
  EXPECT_EQ(ChooseSoundExtension({"cpu", "ram.wav"}, ".ogg"), ".wav");
}

TEST_F(LoaderTest, StrayFileWithoutElementsDecidesTheExtension) {
  const std::string folder = MakePack("stray", "[soundpack]\n", {"notes.txt"});
  state.SoundExtension = ".ogg";
  LoadSoundpack(state, folder);
  EXPECT_EQ(state.SoundExtension, ".txt");
  EXPECT_EQ(state.SoundTable.FindOrAdd("cpu"), 0);
  EXPECT_EQ(state.SoundTable.FindOrAdd("ram"), 0);
  EXPECT_TRUE(rig.device.buffers.empty());
}

TEST_F(LoaderTest, OnlyPrefsKeepsTheExtensionAndLoadsSilently) {
  const std::string folder = MakePack("empty", "[soundpack]\n", {});
  std::filesystem::create_directories(folder + "sub.wav");
  state.SoundExtension = ".flac";
  LoadSoundpack(state, folder);
  EXPECT_EQ(state.SoundExtension, ".flac");
  EXPECT_EQ(Keys(state.SoundTable), (std::set<std::string>{"cpu", "ram"}));
  EXPECT_EQ(state.SoundTable.FindOrAdd("cpu"), 0);
  EXPECT_TRUE(rig.shell.messages().empty());
}

TEST_F(LoaderTest, AnyFileNamingDiskMarksDiskSoundsForGood) {
  const std::string folder = MakePack(
      "mydisk", "[soundpack]\nDiskSoundMode=2\n", {"cpu.wav", "ram.wav"});
  WriteText(folder + "MyDISK.txt", "notes");
  LoadSoundpack(state, folder);
  EXPECT_EQ(state.HasDiskSounds, 1);
  // The disk elements are still looked for under their own names.
  EXPECT_EQ(state.SoundTable.FindOrAdd("Diska"), 0);
  EXPECT_EQ(state.SoundTable.FindOrAdd("Diskb"), 0);
  EXPECT_NE(state.SoundTable.FindOrAdd("cpu"), 0);

  // A later pack without disk files keeps the flag, and loads its (missing)
  // disk element as silence.
  state.SoundTable.Clear();
  rig.engine.Release(AllSounds);
  const std::string plain =
      MakePack("nodisk", "[soundpack]\n", {"cpu.wav", "ram.wav"});
  LoadSoundpack(state, plain);
  EXPECT_EQ(state.HasDiskSounds, 1);
  EXPECT_EQ(Keys(state.SoundTable),
            (std::set<std::string>{"cpu", "ram", "Disk"}));
  EXPECT_EQ(state.SoundTable.FindOrAdd("Disk"), 0);
}

TEST_F(LoaderTest, NoDiskFileMeansNoDiskElements) {
  const std::string folder =
      MakePack("quiet", "[soundpack]\n", {"cpu.wav", "ram.wav"});
  LoadSoundpack(state, folder);
  EXPECT_EQ(state.HasDiskSounds, 0);
  EXPECT_EQ(Keys(state.SoundTable), (std::set<std::string>{"cpu", "ram"}));
}

TEST_F(LoaderTest, PerCorePairsMakeEightSoundsFromTwoFiles) {
  const std::string folder = rig.temp.Folder("pairs");
  WriteText(folder + "prefs.ini",
            "[soundpack]\nUseAverages=0\nCPUSoundMode=2\n");
  WriteWav(folder + "cpu_a.wav", 22050, 64);
  WriteWav(folder + "cpu_b.wav", 44100, 64);
  WriteWav(folder + "ram.wav", 11025, 64);
  LoadSoundpack(state, folder);

  std::set<int32_t> handles;
  for (int n = 0; n < 4; ++n) {
    const SoundHandle a =
        state.SoundTable.FindOrAdd("cpua" + std::to_string(n));
    const SoundHandle b =
        state.SoundTable.FindOrAdd("cpub" + std::to_string(n));
    EXPECT_EQ(rig.engine.GetFrequency(a), 22050u) << n;
    EXPECT_EQ(rig.engine.GetFrequency(b), 44100u) << n;
    handles.insert(a);
    handles.insert(b);
  }
  EXPECT_EQ(handles.size(), 8u);
  EXPECT_FALSE(handles.count(0));
  EXPECT_EQ(rig.device.buffers.size(), 9u);  // and "ram"
  EXPECT_EQ(Keys(state.SoundTable).count("cpua4"), 0u);
}

TEST_F(LoaderTest, DetuneGivesEachCoreOneOffsetWithinBounds) {
  SoundpackRig big(64);
  const std::string folder = big.temp.Folder("detuned");
  WriteText(folder + "prefs.ini",
            "[soundpack]\nUseAverages=0\nCPUSoundMode=2\n"
            "FrequencyFluctuation=1\n");
  WriteWav(folder + "cpu_a.wav", 22050, 64);
  WriteWav(folder + "cpu_b.wav", 44100, 64);
  LoadSoundpack(big.state, folder);

  std::set<int64_t> offsets;
  int64_t last = 0;
  for (int n = 0; n < 64; ++n) {
    const std::string core = std::to_string(n);
    const int64_t a = int64_t{big.engine.GetFrequency(
                          big.state.SoundTable.FindOrAdd("cpua" + core))} -
                      22050;
    const int64_t b = int64_t{big.engine.GetFrequency(
                          big.state.SoundTable.FindOrAdd("cpub" + core))} -
                      44100;
    EXPECT_EQ(a, b) << "core " << n;
    EXPECT_GE(a, -1000);
    EXPECT_LE(a, 1000);
    offsets.insert(a);
    last = a;
  }
  // Each core draws its own offset, and the last one drawn is kept.
  EXPECT_GT(offsets.size(), 32u);
  EXPECT_EQ(big.state.FrequencyOffset, last);
}

TEST_F(LoaderTest, AveragesModeIsNeverDetuned) {
  const std::string folder = MakePack(
      "avg", "[soundpack]\nFrequencyFluctuation=1\n", {"cpu.wav", "ram.wav"});
  state.FrequencyOffset = 123;
  LoadSoundpack(state, folder);
  EXPECT_EQ(rig.engine.GetFrequency(state.SoundTable.FindOrAdd("cpu")), 22050u);
  EXPECT_EQ(state.FrequencyOffset, 123);
}

TEST_F(LoaderTest, ModesThreeAndNegativeChooseByTwo) {
  const std::string folder = MakePack(
      "odd", "[soundpack]\nCPUSoundMode=3\nRAMSoundMode=-1\nDiskSoundMode=9\n",
      {"cpu.wav", "cpu_a.wav", "cpu_b.wav", "ram.wav", "ram_a.wav", "ram_b.wav",
       "Disk_a.wav", "Disk_b.wav"});
  LoadSoundpack(state, folder);
  EXPECT_EQ(Keys(state.SoundTable),
            (std::set<std::string>{"cpua", "cpub", "ram", "Diska", "Diskb"}));
  state.SoundTable.ForEach([](const std::string& key, int32_t handle) {
    EXPECT_NE(handle, 0) << key;
  });
}

TEST_F(LoaderTest, KeysAreCaseSensitive) {
  const std::string folder =
      MakePack("case", "[soundpack]\n", {"cpu.wav", "ram.wav", "Disk.wav"});
  LoadSoundpack(state, folder);
  const std::size_t before = state.SoundTable.Size();
  EXPECT_NE(state.SoundTable.FindOrAdd("Disk"), 0);
  EXPECT_EQ(state.SoundTable.FindOrAdd("disk"), 0);
  EXPECT_EQ(state.SoundTable.FindOrAdd("CPU"), 0);
  EXPECT_EQ(state.SoundTable.Size(), before + 2);
  // The new entry is a real slot, not a shared zero.
  state.SoundTable.FindOrAdd("disk") = 77;
  EXPECT_EQ(state.SoundTable.FindOrAdd("disk"), 77);
  EXPECT_NE(state.SoundTable.FindOrAdd("Disk"), 77);
  state.SoundTable.Clear();
  EXPECT_TRUE(state.SoundTable.Empty());
}

TEST_F(LoaderTest, ElementFilesUseTheFolderAsGiven) {
  // A folder without a trailing separator still finds "/cpu".
  std::string folder =
      MakePack("bare", "[soundpack]\n", {"cpu.wav", "ram.wav"});
  folder.pop_back();
  LoadSoundpack(state, folder);
  EXPECT_NE(state.SoundTable.FindOrAdd("cpu"), 0);
}

}  // namespace
}  // namespace veska
