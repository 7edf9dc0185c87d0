#include "soundpack/soundpack_selection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "soundpack/soundpack_loader.h"
#include "soundpack_rig.h"

namespace veska {
namespace {

// Each message shown, as "title|text|style".
std::vector<std::string> Shown(const ScriptedShell& shell) {
  std::vector<std::string> shown;
  for (const auto& m : shell.messages()) {
    shown.push_back(m.title + "|" + m.text + "|" + std::to_string(m.style));
  }
  return shown;
}

const std::string kInvalid =
    "Error|Not a valid soundpack. Please choose a valid soundpack folder.|0";

class SelectionTest : public ::testing::Test {
 protected:
  SelectionTest() {
    start_ = "Select a soundpack|" + rig.temp.string() + "/packs";
    testing::WriteFile(valid_ + "prefs.ini", "[soundpack]\n");
    testing::WriteWav(valid_ + "cpu.wav", 22050);
    testing::WriteWav(valid_ + "ram.wav", 22050);
    // Sound files but no description.
    testing::WriteWav(invalid_ + "cpu.wav", 44100);
  }

  testing::SoundpackRig rig{2};
  testing::ScopedWorkingFolder working_{rig.temp};
  SoundpackState& state = rig.state;
  std::string valid_ = rig.Folder("packs/valid");
  std::string invalid_ = rig.Folder("packs/invalid");
  std::string start_;
};

TEST(StartFolderTest, PacksUnderTheCurrentFolder) {
  EXPECT_EQ(SoundpackStartFolder("/home/user"), "/home/user/packs");
  EXPECT_EQ(SoundpackStartFolder("/"), "/packs");
  EXPECT_EQ(SoundpackStartFolder(""), "packs");
}

TEST_F(SelectionTest, InvalidFoldersAreRefusedUntilAValidOne) {
  for (int i = 0; i < 500; ++i) rig.shell.AnswerFolder(invalid_);
  rig.shell.AnswerFolder(valid_);
  EXPECT_EQ(rig.Select(), SoundpackChoice::kChosen);
  EXPECT_EQ(Shown(rig.shell), std::vector<std::string>(500, kInvalid));
  EXPECT_EQ(rig.shell.requester_calls(), std::vector<std::string>(501, start_));
  EXPECT_EQ(rig.path, valid_);
  // Only the valid folder's sounds, and none started.
  EXPECT_EQ(rig.device.buffers.size(), 2u);
  EXPECT_EQ(rig.engine.GetFrequency(rig.Handle("cpu")), 22050u);
  EXPECT_EQ(rig.device.Last()->play_count, 0);
}

// What the user is told then, and the end, are the application's
// (tests/app).
TEST_F(SelectionTest, CancelIsReportedWithAnEmptyPathAndNothingElse) {
  rig.path = valid_;
  EXPECT_EQ(rig.Select(), SoundpackChoice::kCancelled);
  EXPECT_EQ(rig.path, "");
  EXPECT_TRUE(Shown(rig.shell).empty());
  EXPECT_TRUE(rig.engine.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(rig.temp / "settings.ini"));
}

TEST_F(SelectionTest, LoadingAnInvalidFolderAsksForAnother) {
  state.CPUSoundMode = 5;
  EXPECT_FALSE(
      LoadSoundpackIfValid(state, rig.monitor, rig.services, invalid_));
  EXPECT_EQ(state.CPUSoundMode, 5);  // nothing read
  EXPECT_TRUE(state.SoundTable.Empty());

  rig.shell.AnswerFolder(valid_);
  EXPECT_EQ(rig.Load(invalid_), SoundpackChoice::kChosen);
  EXPECT_EQ(Shown(rig.shell), std::vector<std::string>{kInvalid});
  EXPECT_EQ(rig.path, valid_);
  EXPECT_EQ(rig.device.buffers.size(), 2u);

  EXPECT_EQ(rig.Load(invalid_), SoundpackChoice::kCancelled);
  EXPECT_EQ(Shown(rig.shell).back(), kInvalid);
  EXPECT_EQ(rig.path, "");
}

}  // namespace
}  // namespace veska
