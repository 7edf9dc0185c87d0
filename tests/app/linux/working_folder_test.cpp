// The folder the program runs in: where it was started when that folder is
// already its own or the program is not installed, else the XDG settings
// folder, linked to the installed packs and image.
#include "app/linux/working_folder.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "scoped_env.h"
#include "temp_folder.h"

namespace veska {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using testing::WriteFile;

class WorkingFolderTest : public ::testing::Test {
 protected:
  WorkingFolderTest() {
    places_.current = root_.path() / "started-in";
    places_.data = root_.path() / "usr/share/veska";
    places_.config_home = root_.path() / "home/.config";
    fs::create_directories(places_.current);
    fs::create_directories(places_.data / "packs/tidewater");
    WriteFile(places_.data / "VESKA.bmp", "BM");
  }

  fs::path Choose() {
    error_.clear();
    return ChooseWorkingFolder(places_, &error_);
  }

  fs::path Config() const { return places_.config_home / "veska"; }

  TempFolder root_;
  FolderPlaces places_;
  std::string error_;
};

TEST_F(WorkingFolderTest, AFolderThatIsAlreadyTheProgramsIsKept) {
  WriteFile(places_.current / "settings.ini", "");
  EXPECT_EQ(Choose(), places_.current);
  fs::remove(places_.current / "settings.ini");
  WriteFile(places_.current / "VESKA.bmp", "BM");
  EXPECT_EQ(Choose(), places_.current);
  EXPECT_FALSE(fs::exists(Config()));
}

TEST_F(WorkingFolderTest, ABuildRunInPlaceStaysWhereItWasStarted) {
  fs::remove_all(places_.data);
  EXPECT_EQ(Choose(), places_.current);
  EXPECT_FALSE(fs::exists(Config()));
  EXPECT_EQ(error_, "");
}

TEST_F(WorkingFolderTest, TheInstalledProgramWorksInTheSettingsFolder) {
  EXPECT_EQ(Choose(), Config());
  EXPECT_EQ(error_, "");
  EXPECT_EQ(fs::read_symlink(Config() / "packs"), places_.data / "packs");
  EXPECT_TRUE(fs::is_directory(Config() / "packs/tidewater"));
  EXPECT_EQ(testing::ReadFile(Config() / "VESKA.bmp"), "BM");
  // Nothing is written where it was started.
  EXPECT_TRUE(fs::is_empty(places_.current));
  // A second start finds everything in place.
  EXPECT_EQ(Choose(), Config());
}

TEST_F(WorkingFolderTest, TheUsersOwnFilesAreKeptAndStaleLinksRemade) {
  fs::create_directories(Config() / "packs/mine");
  WriteFile(Config() / "VESKA.bmp", "my image");
  EXPECT_EQ(Choose(), Config());
  EXPECT_TRUE(fs::is_directory(Config() / "packs/mine"));
  EXPECT_EQ(testing::ReadFile(Config() / "VESKA.bmp"), "my image");

  // Links left by a package that has since moved lead to the new place.
  fs::remove_all(Config());
  fs::create_directories(Config());
  fs::create_symlink(root_.path() / "old/packs", Config() / "packs");
  fs::create_symlink(root_.path() / "old/VESKA.bmp", Config() / "VESKA.bmp");
  EXPECT_EQ(Choose(), Config());
  EXPECT_EQ(fs::read_symlink(Config() / "packs"), places_.data / "packs");
  EXPECT_EQ(fs::read_symlink(Config() / "VESKA.bmp"),
            places_.data / "VESKA.bmp");
}

TEST_F(WorkingFolderTest, ASettingsFolderThatCannotBeMadeIsToldAndNotUsed) {
  WriteFile(root_.path() / "home", "a file where the home folder should be");
  EXPECT_EQ(Choose(), places_.current);
  EXPECT_NE(error_.find("settings folder"), std::string::npos) << error_;
  places_.config_home.clear();
  EXPECT_EQ(Choose(), places_.current);
  EXPECT_NE(error_, "");
}

TEST(FolderPlacesTest, DataBesideTheProgramAndSettingsWhereXdgSays) {
  testing::ScopedEnv home("HOME", "/home/someone");
  {
    testing::ScopedEnv config("XDG_CONFIG_HOME", "/elsewhere/config");
    const FolderPlaces places = CurrentFolderPlaces();
    EXPECT_EQ(places.config_home, "/elsewhere/config");
    EXPECT_EQ(places.current, fs::current_path());
    EXPECT_EQ(places.data,
              fs::read_symlink("/proc/self/exe").parent_path().parent_path() /
                  "share/veska");
  }
  {
    testing::ScopedEnv config("XDG_CONFIG_HOME", "relative/is/ignored");
    EXPECT_EQ(CurrentFolderPlaces().config_home, "/home/someone/.config");
  }
}

}  // namespace
}  // namespace veska
