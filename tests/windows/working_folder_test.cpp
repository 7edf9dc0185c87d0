// Folders on Windows: an unzipped package started from anywhere works in
// its own folder, a folder set up to run in is kept, and a folder deeper
// than 260 characters is listed as itself.
#include "app/windows/working_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <set>
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
    current_ = root_ / "started in";
    program_ = root_ / "VESKA-1.0-windows-x64";
    fs::create_directories(current_);
    fs::create_directories(program_);
    Touch(program_ / "VESKA.bmp");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  static void Touch(const fs::path& file) { std::ofstream(file) << "x"; }

  fs::path root_;  // all of the test's folders, removed after it
  fs::path current_;
  fs::path program_;
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

TEST_F(WorkingFolderTest, AFolderPastTheOldPathLimitListsItsOwnFiles) {
  fs::path deep = current_;
  for (char part : {'a', 'b', 'c', 'd', 'e', 'f'}) {
    deep /= std::string(54, part);
  }
  ASSERT_GT(deep.native().size(), 300u);
  fs::create_directories(deep / "sub");
  Touch(deep / "cpu.wav");
  Touch(deep / "prefs.ini");
  std::set<std::wstring> names;
  std::error_code ec;
  for (fs::directory_iterator it(deep, ec), end; !ec && it != end;
       it.increment(ec)) {
    names.insert(it->path().filename().native());
  }
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_EQ(names, (std::set<std::wstring>{L"cpu.wav", L"prefs.ini", L"sub"}));
  // A folder that is not there is an error, not some other folder's files.
  fs::directory_iterator missing(deep / "none", ec);
  EXPECT_TRUE(ec);
}

}  // namespace
}  // namespace veska
