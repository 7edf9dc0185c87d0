// One instance per session, and the Startup shortcut: made to start this
// program in this folder, seen as ours only then, removed only when ours.
#include "shell/win32/session_and_login.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

namespace veska {
namespace {

TEST(WindowsSessionTest, AHeldClaimIsTakenAndAFreedOneIsNot) {
  HANDLE other = CreateMutexW(nullptr, FALSE, L"Local\\VESKA.OneInstance");
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(ClaimWindowsSession());
  CloseHandle(other);
  EXPECT_TRUE(ClaimWindowsSession());
  EXPECT_TRUE(ClaimWindowsSession());  // kept, not claimed twice
}

class StartupShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"veska-startup-" +
              std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileW(Shortcut().c_str());
    EXPECT_TRUE(RemoveDirectoryW(folder_.c_str())) << "leftovers in the folder";
    CoUninitialize();
  }
  std::wstring Shortcut() const { return folder_ + L"\\VESKA.lnk"; }
  bool Exists() const {
    return GetFileAttributesW(Shortcut().c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  int FilesInFolder() const {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
    int n = 0;
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
      if (found.cFileName[0] != L'.') ++n;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return n;
  }
  // A shortcut of another copy: another target, this folder.
  void WriteForeignShortcut() {
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IShellLinkW, reinterpret_cast<void**>(&link))));
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    link->SetPath((std::wstring(system) + L"\\notepad.exe").c_str());
    wchar_t here[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, here);
    link->SetWorkingDirectory(here);
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(
        IID_IPersistFile, reinterpret_cast<void**>(&file))));
    EXPECT_TRUE(SUCCEEDED(file->Save(Shortcut().c_str(), TRUE)));
    file->Release();
    link->Release();
  }

  std::wstring folder_;
};

TEST_F(StartupShortcutTest, TickedWritesOursAndUntickedRemovesOnlyOurs) {
  std::string error;
  EXPECT_FALSE(StartupShortcutExists(folder_));
  ASSERT_TRUE(SetStartupShortcut(true, &error, folder_)) << error;
  EXPECT_TRUE(Exists());
  EXPECT_TRUE(StartupShortcutExists(folder_));
  EXPECT_EQ(FilesInFolder(), 1);  // no sibling left behind
  // Another working folder is another entry.
  wchar_t here[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, here);
  SetCurrentDirectoryW(folder_.c_str());
  EXPECT_FALSE(StartupShortcutExists(folder_));
  SetCurrentDirectoryW(here);
  EXPECT_TRUE(SetStartupShortcut(false, &error, folder_)) << error;
  EXPECT_FALSE(Exists());
  EXPECT_TRUE(SetStartupShortcut(false, &error, folder_));  // none: no failure

  WriteForeignShortcut();
  EXPECT_FALSE(StartupShortcutExists(folder_));
  EXPECT_TRUE(SetStartupShortcut(false, &error, folder_));
  EXPECT_TRUE(Exists());  // someone else's stays
  ASSERT_TRUE(SetStartupShortcut(true, &error, folder_)) << error;
  EXPECT_TRUE(StartupShortcutExists(folder_));  // ticked, ours replaces it
}

TEST_F(StartupShortcutTest, AMissingFolderIsAReasonAndLeavesNothing) {
  std::string error;
  EXPECT_FALSE(SetStartupShortcut(true, &error, folder_ + L"\\none"));
  EXPECT_NE(error.find("VESKA.lnk"), std::string::npos) << error;
  EXPECT_EQ(FilesInFolder(), 0);
}

}  // namespace
}  // namespace veska
