#include "soundpack/soundpack_selection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "soundpack/soundpack_loader.h"
#include "soundpack_rig.h"

namespace veska {
namespace {

using testing::SoundpackRig;

constexpr char kInvalidText[] =
    "Not a valid soundpack. Please choose a valid soundpack folder.";

// Runs the test from another current folder, and goes back afterwards.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& path)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~CurrentFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

class SelectionTest : public ::testing::Test {
 protected:
  SelectionTest() : here_(rig.temp.path()) {
    valid_ = rig.temp.Folder("packs/valid");
    testing::WriteText(valid_ + "prefs.ini", "[soundpack]\n");
    testing::WriteWav(valid_ + "cpu.wav", 22050, 64);
    testing::WriteWav(valid_ + "ram.wav", 22050, 64);
    // Sound files but no description.
    invalid_ = rig.temp.Folder("packs/invalid");
    testing::WriteWav(invalid_ + "cpu.wav", 44100, 64);
    testing::WriteWav(invalid_ + "ram.wav", 44100, 64);
  }

  std::string Start() const {
    return "Select a soundpack|" + std::filesystem::current_path().string() +
           "/packs";
  }

  SoundpackRig rig{2};
  AppState& state = rig.state;
  CurrentFolder here_;
  std::string valid_;
  std::string invalid_;
};

TEST(StartFolderTest, PacksUnderTheCurrentFolder) {
  EXPECT_EQ(SoundpackStartFolder("/home/user"), "/home/user/packs");
  EXPECT_EQ(SoundpackStartFolder("/home/user/"), "/home/user/packs");
  EXPECT_EQ(SoundpackStartFolder("/"), "/packs");
  EXPECT_EQ(SoundpackStartFolder(""), "packs");
}

TEST_F(SelectionTest, ChoosingAPackStoresAndLoadsIt) {
  rig.shell.AnswerFolder(valid_);
  SelectSoundpack(state);
  EXPECT_EQ(state.Path, valid_);
  EXPECT_EQ(rig.shell.requester_calls(), std::vector<std::string>{Start()});
  EXPECT_TRUE(rig.shell.messages().empty());
  EXPECT_NE(state.SoundTable.FindOrAdd("cpu"), 0);
  // Selection starts nothing.
  for (const auto& buffer : rig.device.buffers)
    EXPECT_EQ(buffer->play_count, 0);
}

TEST_F(SelectionTest, CancelEndsTheProgram) {
  state.Path = valid_;
  try {
    SelectSoundpack(state);
    FAIL() << "the program went on";
  } catch (const ProcessExit& exit) {
    EXPECT_EQ(exit.code, 0);
  }
  EXPECT_EQ(state.Path, "");
  ASSERT_EQ(rig.shell.messages().size(), 1u);
  EXPECT_EQ(rig.shell.messages()[0].title, "No soundpack selected");
  EXPECT_EQ(rig.shell.messages()[0].text,
            "You didn't select a soundpack. Exiting program.");
  EXPECT_EQ(rig.shell.messages()[0].style, 0);
  EXPECT_FALSE(rig.engine.IsOpen());
  EXPECT_TRUE(rig.device.buffers.empty());
  EXPECT_FALSE(std::filesystem::exists(rig.temp.path() / "settings.ini"));
}

TEST_F(SelectionTest, InvalidFolderIsRefusedAndAskedAgain) {
  rig.shell.AnswerFolder(invalid_);
  rig.shell.AnswerFolder(valid_);
  SelectSoundpack(state);
  ASSERT_EQ(rig.shell.messages().size(), 1u);
  EXPECT_EQ(rig.shell.messages()[0].title, "Error");
  EXPECT_EQ(rig.shell.messages()[0].text, kInvalidText);
  EXPECT_EQ(rig.shell.messages()[0].style, 0);
  EXPECT_EQ(rig.shell.requester_calls(),
            (std::vector<std::string>{Start(), Start()}));
  EXPECT_EQ(state.Path, valid_);
  // Only the valid folder's sounds were loaded.
  EXPECT_EQ(rig.device.buffers.size(), 2u);
  EXPECT_EQ(rig.engine.GetFrequency(state.SoundTable.FindOrAdd("cpu")), 22050u);
}

TEST_F(SelectionTest, InvalidFolderLeavesTheStateAlone) {
  state.CPUSoundMode = 5;
  state.SoundExtension = ".flac";
  EXPECT_FALSE(LoadSoundpackIfValid(state, invalid_));
  EXPECT_EQ(state.CPUSoundMode, 5);
  EXPECT_EQ(state.SoundExtension, ".flac");
  EXPECT_TRUE(state.SoundTable.Empty());
  EXPECT_TRUE(rig.shell.messages().empty());
}

TEST_F(SelectionTest, AskingAgainNeverDeepensTheStack) {
  for (int i = 0; i < 2000; ++i) rig.shell.AnswerFolder(invalid_);
  rig.shell.AnswerFolder(valid_);
  SelectSoundpack(state);
  EXPECT_EQ(rig.shell.messages().size(), 2000u);
  EXPECT_EQ(state.Path, valid_);
}

TEST_F(SelectionTest, LoadingAnInvalidFolderAsksForAnother) {
  rig.shell.AnswerFolder(valid_);
  LoadSoundpack(state, invalid_);
  ASSERT_EQ(rig.shell.messages().size(), 1u);
  EXPECT_EQ(rig.shell.messages()[0].text, kInvalidText);
  EXPECT_EQ(state.Path, valid_);
  EXPECT_EQ(rig.device.buffers.size(), 2u);

  // And a cancel there ends the program too.
  state.SoundTable.Clear();
  rig.engine.Release(AllSounds);
  EXPECT_THROW(LoadSoundpack(state, invalid_), ProcessExit);
  EXPECT_EQ(rig.shell.messages().back().title, "No soundpack selected");
}

}  // namespace
}  // namespace veska
