// One instance per desktop session, and the start at login from the menu:
// neither may touch the settings file.
#include "app_rig.h"

namespace veska::testing {
namespace {

using Entry = ScriptedShell::LoginEntry;

TEST_F(AppTest, SecondInstanceSaysSoAndLeavesBeforeReadingOrOpening) {
  const std::string settings = "[Settings]\nPath = " + Pack("avg") + "\n";
  Write("settings.ini", settings);
  shell.SetSessionTaken(true);
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(shell.messages().size(), 1u);
  EXPECT_EQ(shell.messages()[0].title, "Information");
  EXPECT_EQ(shell.messages()[0].text,
            "VESKA is already running: its icon is in the notification area.");
  EXPECT_FALSE(shell.session_claimed());
  EXPECT_EQ(shell.calls().front(), "ShowMessage Information");
  EXPECT_FALSE(device.opened);
  EXPECT_TRUE(device.buffers.empty());
  EXPECT_TRUE(counters.added_paths.empty());
  EXPECT_FALSE(shell.tray_icon_added());
  EXPECT_FALSE(shell.hotkey_registered());
  EXPECT_EQ(Read("settings.ini"), settings);
}

TEST_F(AppTest, StartAtLoginSitsAboveExitAndItsMarkFollowsTheEntry) {
  // A hand-written file, so that any save would show in its bytes.
  const std::string settings =
      "[Settings]\nPath = " + Pack("avg") + "\nVolume = 0.5\n";
  Write("settings.ini", settings);
  shell.SetLoginEntry(Entry::kOther);  // another copy's entry is not ticked
  At(50, [&] {
    const auto& menu = shell.menu();
    ASSERT_GE(menu.size(), 2u);
    EXPECT_EQ(menu[menu.size() - 2].id, kMenuStartAtLogin);
    EXPECT_EQ(menu[menu.size() - 2].text, "Start at login");
    EXPECT_EQ(menu[menu.size() - 2].submenu, "");
    EXPECT_EQ(menu.back().id, kMenuExit);
    EXPECT_FALSE(shell.IsChecked(kMenuStartAtLogin));
  });
  shell.QueueMenuChoice(100, kMenuStartAtLogin);
  At(150, [&] {
    EXPECT_EQ(shell.login_entry(), Entry::kOurs);
    EXPECT_TRUE(shell.IsChecked(kMenuStartAtLogin));
  });
  shell.QueueMenuChoice(200, kMenuStartAtLogin);
  At(250, [&] {
    EXPECT_EQ(shell.login_entry(), Entry::kNone);
    EXPECT_FALSE(shell.IsChecked(kMenuStartAtLogin));
    EXPECT_EQ(Read("settings.ini"), settings);
  });
  shell.QueueMenuChoice(300, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(shell.session_claimed());
  EXPECT_TRUE(shell.messages().empty());
  EXPECT_EQ(shell.login_entry(), Entry::kNone);
}

TEST_F(AppTest, OursIsTickedAndAFailedChangeIsOneBoxWithTheMarkTrue) {
  WriteSettings(Pack("avg"));
  shell.SetLoginEntry(Entry::kOurs);
  shell.FailLoginStart("the folder cannot be written");
  At(50, [&] { EXPECT_TRUE(shell.IsChecked(kMenuStartAtLogin)); });
  shell.QueueMenuChoice(100, kMenuStartAtLogin);
  At(150, [&] {
    ASSERT_EQ(shell.messages().size(), 1u);
    EXPECT_EQ(shell.messages()[0].title, "Error");
    EXPECT_EQ(shell.messages()[0].text,
              "VESKA cannot stop starting at login: the folder cannot be "
              "written");
    EXPECT_TRUE(shell.IsChecked(kMenuStartAtLogin));
    EXPECT_EQ(shell.login_entry(), Entry::kOurs);
  });
  shell.QueueMenuChoice(200, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(shell.messages().size(), 1u);
}

}  // namespace
}  // namespace veska::testing
