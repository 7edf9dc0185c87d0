// The Windows working folder: an unzipped package started from anywhere
// works in its own folder; a folder set up to run in is kept.
#include "app/windows/working_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

namespace veska {
namespace {

namespace fs = std::filesystem;

class WorkingFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    root_ = fs::path(temp) /
            ("veska-folder-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(current_);
    fs::create_directories(program_);
    Touch(program_ / "VESKA.bmp");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  static void Touch(const fs::path& file) { std::ofstream(file) << "x"; }

  fs::path root_;
  fs::path current_ = root_ / "started in";
  fs::path program_ = root_ / "VESKA-1.0-windows-x64";
};

TEST_F(WorkingFolderTest, MovesToTheProgramOnlyFromAFolderNotSetUp) {
  EXPECT_EQ(ChooseWindowsWorkingFolder(current_, program_), program_);
  // Without its image the program's folder is no package: stay.
  fs::remove(program_ / "VESKA.bmp");
  EXPECT_EQ(ChooseWindowsWorkingFolder(current_, program_), current_);
  EXPECT_EQ(ChooseWindowsWorkingFolder(current_, fs::path()), current_);
  Touch(program_ / "VESKA.bmp");
  // Either file makes the started-in folder one to run in.
  for (const char* name : {"settings.ini", "VESKA.bmp"}) {
    Touch(current_ / name);
    EXPECT_EQ(ChooseWindowsWorkingFolder(current_, program_), current_) << name;
    fs::remove(current_ / name);
  }
}

}  // namespace
}  // namespace veska
