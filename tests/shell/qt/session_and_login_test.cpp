// One instance per user and display, and the desktop entry that starts the
// program at login: written so that the desktop reads back this program and
// folder whatever their names hold, and removed only when it is ours.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "shell/qt/login_start.h"
#include "shell/qt/session_lock.h"
#include "temp_folder.h"

namespace veska::testing {
namespace {

namespace fs = std::filesystem;

TEST(SessionLockTest, OneHolderPerDisplayUntilItGoes) {
  EXPECT_EQ(X11DisplayName(":1.0"), ":1");
  EXPECT_EQ(X11DisplayName("unix:1"), ":1");
  EXPECT_EQ(X11DisplayName("remote:10.2"), "remote:10");
  EXPECT_EQ(SessionLockPath("/run/user/7", 7, "x11-:1"),
            "/run/user/7/veska-x11-%3A1.lock");
  EXPECT_EQ(SessionLockPath("relative", 7, "wayland-0/x"),
            "/tmp/veska-7-wayland-0%2Fx.lock");

  TempFolder folder;
  const std::string one = SessionLockPath(folder.path(), 0, "x11-:1");
  const std::string two = SessionLockPath(folder.path(), 0, "x11-:2");
  auto first = std::make_unique<SessionLock>();
  EXPECT_EQ(first->Take(one), SessionLock::Claim::kClaimed);
  SessionLock second;
  EXPECT_EQ(second.Take(one), SessionLock::Claim::kTaken);
  SessionLock other_display;
  EXPECT_EQ(other_display.Take(two), SessionLock::Claim::kClaimed);
  first.reset();
  EXPECT_EQ(second.Take(one), SessionLock::Claim::kClaimed);
  // No place for the lock is no reason not to run.
  SessionLock nowhere;
  EXPECT_EQ(nowhere.Take((folder.path() / "none" / "x.lock").string()),
            SessionLock::Claim::kUnknown);
}

struct Names {
  const char* program;
  const char* folder;
};

TEST(LoginStartTest, AwkwardNamesReadBackAndPassTheValidator) {
  const Names cases[] = {
      {"/usr/bin/veska", "/home/u/.config/veska"},
      {"/opt/my apps/veska", "/ lead/and trail "},
      {"/a\"quote/$HOME/`tick`/back\\slash/100%/veska", "/x\\y/%u"},
      {"/tab\there/new\nline/veska", "/caf\xC3\xA9/#(1);&|<>*?~'"},
  };
  TempFolder folder;
  const fs::path file = folder.path() / "veska.desktop";
  const bool validator = std::system(
                             "command -v desktop-file-validate "
                             ">/dev/null 2>&1") == 0;
  for (const Names& c : cases) {
    const std::string text = LoginStartEntryText(c.program, c.folder);
    ASSERT_FALSE(text.empty()) << c.program;
    const LoginStartTarget target = ReadLoginStartEntry(text);
    EXPECT_EQ(target.program, c.program);
    EXPECT_EQ(target.folder, c.folder);
    if (!validator) continue;
    WriteFile(file, text);
    const std::string command =
        "desktop-file-validate '" + file.string() + "' >&2";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "desktop-file-validate refused:\n"
        << text;
  }
  // Not UTF-8: no entry can say it.
  EXPECT_EQ(LoginStartEntryText("/bad\xFF/veska", "/"), "");
  EXPECT_EQ(LoginStartEntryText("/veska", "/bad\xC3"), "");
}

TEST(LoginStartTest, DisabledOrProgramlessEntriesStartNothing) {
  const std::string exec = "[Desktop Entry]\nExec=/v\nPath=/f\n";
  EXPECT_EQ(ReadLoginStartEntry(exec).program, "/v");
  EXPECT_EQ(ReadLoginStartEntry(exec + "Hidden=true\n").program, "");
  EXPECT_EQ(
      ReadLoginStartEntry(exec + "X-GNOME-Autostart-enabled=false\n").program,
      "");
  EXPECT_EQ(ReadLoginStartEntry("[Other]\nExec=/v\n").program, "");
  EXPECT_EQ(ReadLoginStartEntry("[Desktop Entry]\nExec=/v %U\n").program, "/v");
}

class LoginStartFiles : public ::testing::Test {
 protected:
  LoginStartFiles() {
    fs::create_directories(here_ / "work");
    fs::create_directories(here_ / "elsewhere");
    WriteFile(here_ / "veska", "");
  }
  fs::path Entry() const { return autostart_ / "veska.desktop"; }
  std::size_t FilesIn(const fs::path& folder) const {
    std::size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(folder)) ++n;
    return n;
  }

  TempFolder folder_;
  const fs::path here_ = folder_.path();
  const fs::path autostart_ = here_ / "config" / "autostart";
  LoginStart ours_{autostart_, here_ / "veska", here_ / "work"};
  LoginStart other_folder_{autostart_, here_ / "veska", here_ / "elsewhere"};
};

TEST_F(LoginStartFiles, TickedMakesTheEntryAndUntickedRemovesOnlyOurs) {
  std::string error;
  EXPECT_FALSE(ours_.Exists());
  ASSERT_TRUE(ours_.Set(true, &error)) << error;  // makes the folder too
  EXPECT_TRUE(ours_.Exists());
  EXPECT_FALSE(other_folder_.Exists());
  EXPECT_EQ(FilesIn(autostart_), 1u);  // no sibling left behind

  // The same program in another folder is another entry: left alone.
  EXPECT_TRUE(other_folder_.Set(false, &error));
  EXPECT_TRUE(ours_.Exists());
  // Ticked there, it takes the one name over.
  EXPECT_TRUE(other_folder_.Set(true, &error));
  EXPECT_TRUE(other_folder_.Exists());
  EXPECT_FALSE(ours_.Exists());
  EXPECT_TRUE(ours_.Set(true, &error));
  EXPECT_TRUE(ours_.Set(false, &error));
  EXPECT_FALSE(fs::exists(Entry()));
  EXPECT_TRUE(ours_.Set(false, &error));  // nothing there is no failure

  // The user's own switch off counts as not starting.
  ASSERT_TRUE(ours_.Set(true, &error));
  WriteFile(Entry(), ReadFile(Entry()) + "Hidden=true\n");
  EXPECT_FALSE(ours_.Exists());
  EXPECT_TRUE(ours_.Set(false, &error));
  EXPECT_TRUE(fs::exists(Entry()));
}

TEST_F(LoginStartFiles, AnUnwritableFolderIsAReasonAndLeavesNothing) {
  fs::create_directories(autostart_.parent_path());
  WriteFile(autostart_, "a file where the folder should be");
  std::string error;
  EXPECT_FALSE(ours_.Set(true, &error));
  EXPECT_NE(error.find(autostart_.string()), std::string::npos) << error;
  EXPECT_EQ(ReadFile(autostart_), "a file where the folder should be");
  EXPECT_EQ(FilesIn(autostart_.parent_path()), 1u);

  LoginStart homeless{fs::path()};
  EXPECT_FALSE(homeless.Exists());
  EXPECT_FALSE(homeless.Set(true, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace veska::testing
