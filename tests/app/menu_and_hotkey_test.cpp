// The pop-up menu and its commands, and both keyboard modes.
#include "app_rig.h"

namespace veska::testing {
namespace {

TEST_F(AppTest, MenuHoldsEveryItemInOrderWithItsMarks) {
  WriteSettings(Pack("disk"), "Volume = 0.5\n");
  shell.QueueMenuChoice(100, kMenuExit);
  EXPECT_EQ(Run(), 0);
  std::string items;
  for (const auto& item : shell.menu()) {
    items += std::to_string(item.id) + " " + item.text + " @" + item.submenu +
             (item.checked ? " *" : "") + "\n";
  }
  EXPECT_EQ(items,
            "0 Load soundpack... @\n2 100% @Volume\n3 75% @Volume\n"
            "4 50% @Volume *\n5 25% @Volume\n6 10% @Volume\n"
            "17 Custom... @Volume\n7 CPU @Elements *\n8 RAM @Elements *\n"
            "16 Disk @Elements *\n9 Quarter second @Refresh Time\n"
            "10 Half second @Refresh Time\n11 1 second @Refresh Time\n"
            "12 1.5 seconds @Refresh Time\n13 2 seconds @Refresh Time\n"
            "14 5 seconds @Refresh Time\n15 10 seconds @Refresh Time\n"
            "18 Normal Toggle @Keyboard Mode *\n"
            "19 Push To Play @Keyboard Mode\n20 Start at login @\n"
            "1 Exit @\n");
}

TEST_F(AppTest, PresetsCheckOnlyTheChosenItemAndCustomKeepsItsMark) {
  WriteSettings(Pack("avg"), "Volume = 0.3\n");
  const float volumes[] = {1.0f, 0.75f, 0.5f, 0.25f, 0.1f};
  const int refresh[] = {250, 500, 1000, 1500, 2000, 5000, 10000};
  for (int id = kMenuVolume100; id <= kMenuRefresh10s; ++id) {
    if (id == kMenuCpu || id == kMenuRam) continue;
    shell.QueueMenuChoice(100 * id, id);
    At(100 * id + 50, [&, id] {
      const bool volume = id <= kMenuVolume10;
      const int first = volume ? kMenuVolume100 : kMenuRefreshQuarter;
      for (int other = first; other <= (volume ? 6 : 15); ++other) {
        EXPECT_EQ(shell.IsChecked(other), other == id) << id << " " << other;
      }
      EXPECT_TRUE(shell.IsChecked(kMenuCustomVolume));
      EXPECT_EQ(volume ? state.Volume : state.RefreshTime,
                volume ? volumes[id - first] : refresh[id - first]);
    });
  }
  shell.QueueMenuChoice(2000, kMenuExit);
  EXPECT_EQ(Run(), 0);
}

struct Custom {
  const char* stored;
  const char* answer;  // null is a cancelled dialog
  const char* offered;
  float volume;
};
class CustomVolumeTest : public AppTest,
                         public ::testing::WithParamInterface<Custom> {};

TEST_P(CustomVolumeTest, AnswerIsReadAndClampedAndMarksStay) {
  const Custom& c = GetParam();
  WriteSettings(Pack("avg"), std::string("Volume = ") + c.stored + "\n");
  if (c.answer != nullptr) {
    shell.AnswerText(c.answer);
  } else {
    shell.CancelText();
  }
  shell.QueueMenuChoice(100, kMenuCustomVolume);
  shell.QueueMenuChoice(200, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(shell.requester_calls().at(0),
            std::string("Volume|Enter a percentage between 0 and 100, without "
                        "the percent sign.|") +
                c.offered);
  EXPECT_EQ(state.Volume, c.volume);
  const bool nan = c.answer != nullptr && std::string(c.answer) == "nan";
  ASSERT_EQ(shell.messages().size(), nan ? 1u : 0u);
  if (nan) {
    EXPECT_EQ(shell.messages()[0].text,
              "Can't get the program to crash this way!");
  }
  EXPECT_NE(shell.IsChecked(kMenuCustomVolume), shell.IsChecked(kMenuVolume50));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CustomVolumeTest,
    ::testing::Values(
        Custom{"0.3", "150", "30", 1.0f}, Custom{"0.3", "-5", "30", 0.0f},
        Custom{"0.3", "12,5", "30", 0.12f}, Custom{"0.3", " 50%", "30", 0.5f},
        Custom{"0.3", "nan", "30", 0.1f},
        Custom{"0.3", "-INFINITY", "30", 0.0f},
        Custom{"0.3", "loud", "30", 0.0f}, Custom{"0.3", "1e39", "30", 1.0f},
        Custom{"0.3", "-1e39", "30", 0.0f}, Custom{"0.5", nullptr, "50", 0.5f},
        Custom{"0.125", nullptr, "12", 0.125f}, Custom{"0.5", "", "50", 0.0f},
        Custom{"0.375", "29", "38", 0.29f}));

TEST_F(AppTest, NormalToggleMutesAndTogglesActOnEveryCoreAtOnce) {
  WriteSettings(Pack("cores"), "KeyboardMode = 0\n");
  std::vector<int32_t> pans;
  At(500, [&] {
    for (const auto& b : Live("cpu_a")) pans.push_back(b->pan);
  });
  shell.QueueHotkey(1000);
  At(1500, [&] { EXPECT_TRUE(Silent()); });
  shell.QueueMenuChoice(1600, kMenuCpu);
  shell.QueueMenuChoice(1700, kMenuCpu);
  At(1800, [&] {  // audible at once though muted, at the same places
    EXPECT_TRUE(Playing("cpu_a") && Playing("cpu_b") && !Playing("ram_a"));
    std::vector<int32_t> now;
    for (const auto& b : Live("cpu_a")) now.push_back(b->pan);
    EXPECT_EQ(now, pans);
  });
  shell.QueueHotkey(2000);
  shell.QueueMenuChoice(2100, kMenuCpu);
  At(2500, [&] {
    EXPECT_TRUE(Playing("ram_a") && Playing("ram_b"));
    EXPECT_TRUE(Live("cpu_a").size() == 4 && !Playing("cpu_a") &&
                !Playing("cpu_b"));
    EXPECT_FALSE(shell.IsChecked(kMenuCpu));
  });
  shell.QueueHotkey(3000, 5);  // another id: nothing
  At(3500, [&] { EXPECT_TRUE(Playing("ram_a")); });
  shell.QueueHotkey(4000);
  At(4500, [&] { EXPECT_TRUE(Silent() && state.Muted == 1); });
  shell.QueueMenuChoice(5000, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(pans.size(), 4u);
}

TEST_F(AppTest, SwitchingModesKeepsTheHotkeyState) {
  shell.AnswerFolder(Pack("avg"));
  shell.QueueHotkey(1000);  // "Push To Play", released after half a second
  shell.QueueMenuChoice(2000, kMenuNormalToggle);
  shell.QueueHotkey(3000);  // stops what is already stopped
  At(3500, [&] { EXPECT_TRUE(Silent() && state.Muted == 1); });
  shell.QueueHotkey(4000);
  At(4500, [&] { EXPECT_TRUE(Playing("cpu") && Playing("ram")); });
  shell.QueueMenuChoice(5000, kMenuPushToPlay);
  shell.QueueHotkey(6000);  // held when the mode changes: keeps sounding
  shell.QueueMenuChoice(6100, kMenuNormalToggle);
  At(7000, [&] { EXPECT_TRUE(Playing("cpu")); });
  shell.QueueHotkey(8000);  // only ends the held state
  At(8500, [&] { EXPECT_TRUE(Playing("cpu") && state.HotkeyActive == 0); });
  shell.QueueHotkey(9000);
  At(9500, [&] { EXPECT_TRUE(Silent()); });
  shell.QueueMenuChoice(10000, kMenuExit);
  EXPECT_EQ(Run(), 0);
}

// Keys held 1.5 s repeat at the display's pace (after 660 ms, every 40 ms).
TEST_F(AppTest, AHeldHotkeyTogglesOnceAndPushToPlayKeepsItsRepeats) {
  WriteSettings(Pack("avg"), "KeyboardMode = 0\n");
  std::vector<std::pair<uint32_t, int32_t>> mutes;  // each change of Muted
  int32_t last = 0;
  on_wait = [&](uint32_t now) {
    if (state.Muted != last) mutes.emplace_back(now, last = state.Muted);
  };
  shell.QueueHotkeyHold(1000, 1500, 660, 40);
  At(2600, [&] { EXPECT_TRUE(Silent()); });
  shell.QueueHotkeyHold(3000, 1500, 660, 40);
  At(4600, [&] { EXPECT_TRUE(Playing("cpu") && Playing("ram")); });
  shell.QueueMenuChoice(5000, kMenuPushToPlay);
  shell.QueueHotkeyHold(6000, 1500, 500, 40);
  At(7450, [&] { EXPECT_TRUE(Playing("cpu")) << "the repeats keep it on"; });
  At(8100, [&] { EXPECT_TRUE(Silent()) << "stopped after the release"; });
  shell.QueueMenuChoice(9000, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(mutes,
            (std::vector<std::pair<uint32_t, int32_t>>{{1000, 1}, {3000, 0}}));
}

TEST_F(AppTest, ReloadKeepsLevelsAndMenuAndACancelEndsUnsaved) {
  for (int core = 0; core < 4; ++core) counters.SetCoreLoad(core, 10 + core);
  WriteSettings(Pack("cores"), "KeyboardMode = 0\n");
  std::vector<int32_t> core_levels;
  At(2990, [&] { core_levels = state.soundpack.CoreLevels; });
  shell.QueueHotkey(2995);  // muted
  shell.AnswerFolder(Pack("disk"));
  shell.QueueMenuChoice(3000, kMenuLoadSoundpack);
  At(3100, [&] {  // plays at once, still counted as muted
    EXPECT_TRUE(Playing("cpu") && Playing("Disk") && state.Muted == 1);
    EXPECT_EQ(device.Live().size(), 3u);
  });
  At(4900, [&] { EXPECT_GT(state.soundpack.CpuLevel, 0); });
  shell.AnswerFolder(Pack("disk"));  // the same pack again
  shell.QueueMenuChoice(5000, kMenuLoadSoundpack);
  std::string saved;
  At(5100, [&] {
    saved = Read("settings.ini");
    const auto& calls = Live("cpu").at(0)->calls;
    EXPECT_EQ(calls.at(1), "SetCurrentPosition 0");
    // Level 11 was reached before the switch and is kept.
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetFrequency 27550"),
              calls.end());
  });
  shell.QueueMenuChoice(6000, kMenuLoadSoundpack);  // cancelled
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(core_levels, (std::vector<int32_t>{10, 11, 12, 13, 0}));
  EXPECT_EQ(state.soundpack.CoreLevels, core_levels);
  EXPECT_FALSE(shell.HasMenuItem(kMenuDisk));
  EXPECT_EQ(shell.messages().back().title, "No soundpack selected");
  EXPECT_EQ(Read("settings.ini"), saved);
  EXPECT_NE(saved.find("Path = " + Pack("disk") + "\r\n"), std::string::npos);
  EXPECT_TRUE(device.Live().empty() && device.closed);
}

}  // namespace
}  // namespace veska::testing
