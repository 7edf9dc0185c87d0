// The Win32 shell under Wine, as far as it goes without a user: the tray
// icon's image and tooltip, the menu as built, hotkey and menu messages
// through the wait, and the volume dialog answered by a second thread.
#include "shell/win32/win32_shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "prompt_check.h"
#include "shell/win32/tray_icon.h"
#include "shell/win32/wide_text.h"

#undef LoadImage  // the shell's call, not the system's narrow-text macro

namespace veska {
namespace {

std::wstring SourceFile(const char* name) {
  const char* root = std::getenv("VESKA_SOURCE_WINDOWS");
  return Widen(std::string(root != nullptr ? root : ".") + "\\" + name);
}

TEST(WideTextTest, RoundTripsAndCutsTooltipsWithoutHalfCharacters) {
  const std::string text = "VESKA - \xC3\xA9t\xC3\xA9 \xF0\x9F\x94\x8A";
  const std::wstring wide = Widen(text);
  EXPECT_EQ(wide, L"VESKA - \u00e9t\u00e9 \U0001F50A");
  EXPECT_EQ(Narrow(wide), text);
  EXPECT_EQ(Widen("bad \xFF"), L"bad \uFFFD");
  // 62 units and a surrogate pair: the pair goes whole.
  const std::wstring long_tip = std::wstring(62, L'x') + L"\U0001F50A";
  EXPECT_EQ(CutWide(long_tip, 63), std::wstring(62, L'x'));
  EXPECT_EQ(CutWide(std::wstring(70, L'y'), 63).size(), 63u);
  EXPECT_EQ(CutWide(L"short", 63), L"short");
}

TEST(TrayIconTest, MadeFromTheBitmapWithItsAlpha) {
  HICON icon = LoadTrayIcon(SourceFile("VESKA.bmp"));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP color{};
  GetObjectW(info.hbmColor, sizeof(color), &color);
  EXPECT_EQ(color.bmWidth, 32);
  EXPECT_EQ(color.bmHeight, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  EXPECT_EQ(LoadTrayIcon(SourceFile("no-such.bmp")), nullptr);
  EXPECT_EQ(LoadTrayIcon(SourceFile("README.md")), nullptr);
}

// A 2 x 1 32-bit bitmap file whose pixels have these alpha bytes.
std::wstring WriteBitmap(const char* name, uint8_t alpha0, uint8_t alpha1) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + Widen(name);
  const uint8_t
      bytes[] = {'B',  'M',  62,   0,      0,    0,    0,    0,
                 0,    0,    54,   0,      0,    0,  // file header
                 40,   0,    0,    0,      2,    0,    0,    0,
                 1,    0,    0,    0,      1,    0,    32,   0,  // info header
                 0,    0,    0,    0,      8,    0,    0,    0,
                 0,    0,    0,    0,      0,    0,    0,    0,  //
                 0,    0,    0,    0,      0,    0,    0,    0,  //
                 0x30, 0x70, 0xC0, alpha0, 0x30, 0x70, 0xC0, alpha1};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes, sizeof(bytes), &written, nullptr);
  CloseHandle(file);
  return path;
}

// The icon's mask bits of the first two pixels: 1 is transparent.
int MaskBits(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return -1;
  uint8_t row[4] = {};
  GetBitmapBits(info.hbmMask, sizeof(row), row);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return row[0] >> 6;
}

TEST(TrayIconTest, AlphaZeroIsTransparentUnlessNoPixelHasAlpha) {
  const std::wstring with_alpha = WriteBitmap("veska-alpha.bmp", 0, 255);
  const std::wstring without = WriteBitmap("veska-no-alpha.bmp", 0, 0);
  HICON icon = LoadTrayIcon(with_alpha);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(MaskBits(icon), 2);  // the first pixel only
  DestroyIcon(icon);
  icon = LoadTrayIcon(without);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(MaskBits(icon), 0);  // opaque throughout
  DestroyIcon(icon);
  DeleteFileW(with_alpha.c_str());
  DeleteFileW(without.c_str());
}

class Win32ShellTest : public ::testing::Test {
 protected:
  Win32Shell shell;
};

TEST_F(Win32ShellTest, BuildsNestedMenusWithIdsAndChecks) {
  shell.OpenHiddenWindow("VESKA");
  shell.CreatePopupMenu();
  shell.AddMenuItem(0, "Load soundpack...");
  shell.OpenSubMenu("Volume");
  shell.AddMenuItem(2, "100%");
  shell.AddMenuItem(17, "Custom...");
  shell.CloseSubMenu();
  shell.CloseSubMenu();  // one too many: stays at the top
  shell.AddMenuItem(1, "Exit");
  shell.SetMenuCheck(17, true);
  shell.SetMenuCheck(2, true);
  shell.SetMenuCheck(2, false);
  shell.SetMenuCheck(99, true);  // no such item: nothing happens

  auto* menu = static_cast<HMENU>(shell.MenuHandle());
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  EXPECT_EQ(GetMenuItemID(menu, 0), 0u);
  EXPECT_EQ(GetMenuItemID(menu, 2), 1u);
  HMENU volume = GetSubMenu(menu, 1);
  ASSERT_NE(volume, nullptr);
  wchar_t text[32] = {};
  GetMenuStringW(menu, 1, text, 32, MF_BYPOSITION);
  EXPECT_STREQ(text, L"Volume");
  ASSERT_EQ(GetMenuItemCount(volume), 2);
  EXPECT_EQ(GetMenuItemID(volume, 1), 17u);
  EXPECT_EQ(GetMenuState(menu, 17, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
  EXPECT_EQ(GetMenuState(menu, 2, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_EQ(GetMenuState(menu, 0, MF_BYCOMMAND) & MF_CHECKED, 0u);

  // A choice arrives as the menu's command message.
  PostMessageW(static_cast<HWND>(shell.WindowHandle()), WM_COMMAND, 17, 0);
  EXPECT_EQ(shell.WaitEvent(1000), kEventMenu);
  EXPECT_EQ(shell.EventMenuId(), 17);
}

TEST_F(Win32ShellTest, TrayClicksHotkeysAndTheTooltipLimit) {
  shell.OpenHiddenWindow("VESKA");
  const ImageHandle image = shell.LoadImage(Narrow(SourceFile("VESKA.bmp")));
  ASSERT_NE(image, 0u);
  EXPECT_FALSE(shell.AddTrayIcon(1, 0));
  // The longer texts of the new elements keep all the platform's room.
  shell.SetTrayTooltip(1, std::string(80, 'a'));
  EXPECT_EQ(shell.TooltipOf(1), std::wstring(80, L'a'));
  shell.SetTrayTooltip(1, std::string(140, 'b'));
  EXPECT_EQ(shell.TooltipOf(1), std::wstring(127, L'b'));
  const std::string classic = "VESKA - AVG CPU: 100% - RAM: 100% - Disk: 100";
  shell.SetTrayTooltip(1, classic);
  EXPECT_EQ(shell.TooltipOf(1), Widen(classic));

  auto* window = static_cast<HWND>(shell.WindowHandle());
  PostMessageW(window, kTrayCallbackMessage, 1, WM_MOUSEMOVE);
  PostMessageW(window, kTrayCallbackMessage, 1, WM_RBUTTONDOWN);
  EXPECT_EQ(shell.WaitEvent(1000), kEventTray);
  // Keys not held when the message is seen: one press.
  PostThreadMessageW(GetCurrentThreadId(), WM_HOTKEY, 0, 0);
  EXPECT_EQ(shell.WaitEvent(1000), kEventHotkey);
  EXPECT_EQ(shell.EventParam(), 0);
  EXPECT_FALSE(shell.EventIsRepeat());
  EXPECT_EQ(shell.WaitEvent(50), kEventTimeout);

  const uint32_t before = shell.ElapsedMs();
  EXPECT_EQ(shell.WaitEvent(120), kEventTimeout);
  const uint32_t waited = shell.ElapsedMs() - before;
  EXPECT_GE(waited, 110u);
}

TEST_F(Win32ShellTest, StartingAMissingProgramShowsNothing) {
  // Without the no-interface flag the system asks about the missing file in
  // a modal box; a watchdog closes any such box so that the test ends.
  const DWORD thread = GetCurrentThreadId();
  std::atomic<bool> returned{false};
  std::atomic<bool> box_shown{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 500 && !returned; ++i) Sleep(10);
    while (!returned) {
      EnumThreadWindows(
          thread,
          [](HWND window, LPARAM shown) {
            if (IsWindowVisible(window)) {
              reinterpret_cast<std::atomic<bool>*>(shown)->store(true);
              PostMessageW(window, WM_CLOSE, 0, 0);
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&box_shown));
      Sleep(100);
    }
  });
  shell.RunElevated("veska-no-such-program.exe", "");
  returned = true;
  watchdog.join();
  EXPECT_FALSE(box_shown) << "starting a missing program showed a box";
}

TEST_F(Win32ShellTest, CloseAndTheSessionsEndAskTheProgramToEnd) {
  shell.OpenHiddenWindow("VESKA");
  auto* window = static_cast<HWND>(shell.WindowHandle());
  // Asked first, the program agrees; only the end itself ends it.
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP),
            TRUE);
  SendMessageW(window, WM_ENDSESSION, FALSE, 0);  // the end called off
  EXPECT_EQ(shell.WaitEvent(50), kEventTimeout);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(shell.WaitEvent(1000), kEventQuit);
  // The window stays for the orderly end, which removes the icon through it.
  EXPECT_TRUE(IsWindow(window));
  SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
  EXPECT_EQ(shell.WaitEvent(1000), kEventQuit);
}

// The notification area as the tests play it: it refuses the next
// `refusals` adds, and keeps the ids it took.
struct FakeTray {
  int refusals = 0;
  int adds = 0;
  int modifies = 0;
  int deletes = 0;
  std::set<UINT> shown;
};
FakeTray fake_tray;

BOOL WINAPI FakeNotifyIcon(DWORD action, PNOTIFYICONDATAW data) {
  switch (action) {
    case NIM_ADD:
      ++fake_tray.adds;
      if (fake_tray.refusals > 0) {
        --fake_tray.refusals;
        return FALSE;
      }
      return fake_tray.shown.insert(data->uID).second;
    case NIM_MODIFY:
      ++fake_tray.modifies;
      return fake_tray.shown.count(data->uID) != 0;
    case NIM_DELETE:
      ++fake_tray.deletes;
      return fake_tray.shown.erase(data->uID) != 0;
    default:
      return FALSE;
  }
}

// Waits through the shell until the fake tray shows an icon, at most 4 s.
bool WaitShown(Win32Shell& shell) {
  const uint32_t start = shell.ElapsedMs();
  while (fake_tray.shown.empty() && shell.ElapsedMs() - start < 4000) {
    shell.WaitEvent(50);
  }
  return !fake_tray.shown.empty();
}

TEST(TrayIconRetryTest, RefusedAddsAreRetriedUntilTheTrayTakesTheIcon) {
  fake_tray = {};
  fake_tray.refusals = 2;  // the taskbar still starting at logon
  Win32Shell shell(&FakeNotifyIcon);
  shell.OpenHiddenWindow("VESKA");
  const ImageHandle image = shell.LoadImage(Narrow(SourceFile("VESKA.bmp")));
  ASSERT_NE(image, 0u);
  EXPECT_TRUE(shell.AddTrayIcon(1, image));
  EXPECT_TRUE(fake_tray.shown.empty());
  shell.SetTrayTooltip(1, "VESKA");
  EXPECT_EQ(fake_tray.modifies, 0);  // nothing to modify yet
  ASSERT_TRUE(WaitShown(shell)) << fake_tray.adds << " adds, none taken";
  EXPECT_EQ(fake_tray.adds, 3);
  shell.WaitEvent(1500);
  EXPECT_EQ(fake_tray.adds, 3) << "tried again after it was taken";

  // The taskbar restarts and refuses once more: announced, then retried.
  fake_tray.shown.clear();
  fake_tray.refusals = 1;
  SendMessageW(static_cast<HWND>(shell.WindowHandle()),
               RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_EQ(fake_tray.adds, 4);
  ASSERT_TRUE(WaitShown(shell));
  EXPECT_EQ(fake_tray.adds, 5);
  shell.SetTrayTooltip(1, "VESKA - AVG CPU: 1%");
  EXPECT_EQ(fake_tray.modifies, 1);
  shell.RemoveTrayIcon(1);
  EXPECT_EQ(fake_tray.deletes, 1);
  EXPECT_TRUE(fake_tray.shown.empty());
}

// Opens the folder browser at `start` from `working_folder`, accepts what
// it selected and gives that.
std::string BrowseAndAccept(Win32Shell& shell,
                            const std::wstring& working_folder,
                            const std::string& start) {
  wchar_t before[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, before);
  if (!SetCurrentDirectoryW(working_folder.c_str())) return "(no folder)";
  std::atomic<bool> found{false};
  std::thread accept([&found] {
    HWND browser = nullptr;
    for (int i = 0; i < 500 && browser == nullptr; ++i) {
      browser = FindWindowW(nullptr, L"Browse for Folder");
      if (browser == nullptr) Sleep(10);
    }
    if (browser == nullptr) return;
    found = true;
    Sleep(500);  // past its start, where the selection is made
    PostMessageW(browser, WM_COMMAND, IDOK, 0);
  });
  const std::string chosen = shell.FolderRequester("Select a soundpack", start);
  accept.join();
  SetCurrentDirectoryW(before);
  return found ? chosen : "(no browser)";
}

bool SamePath(const std::string& a, const std::wstring& b) {
  return CompareStringOrdinal(Widen(a).c_str(), -1, b.c_str(), -1, TRUE) ==
         CSTR_EQUAL;
}

// The browser opens at the folder asked for, given relative to the working
// folder too: the system's selection takes only a full path. (Under Wine's
// Z: the tree is filled only after the browser's start; the first-start
// scenario sees that.)
TEST_F(Win32ShellTest, TheFolderBrowserStartsAtTheFolderAskedFor) {
  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::string chosen = BrowseAndAccept(shell, windows, "system32");
  EXPECT_TRUE(SamePath(chosen, std::wstring(windows) + L"\\system32\\"))
      << chosen;
}

// Answers the next "Volume" dialog from another thread: sets the field (when
// `text` is given) and presses OK, or cancels. Records where the caret was.
class DialogAnswer {
 public:
  DialogAnswer(const wchar_t* text, bool ok)
      : thread_([this, text, ok] { Answer(text, ok); }) {}
  ~DialogAnswer() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool found() const { return found_; }
  DWORD caret() const { return caret_; }
  const PromptFit& prompt() const { return prompt_; }

 private:
  void Answer(const wchar_t* text, bool ok) {
    HWND dialog = nullptr;
    for (int i = 0; i < 500 && dialog == nullptr; ++i) {
      dialog = FindWindowW(nullptr, L"Volume");
      if (dialog == nullptr) Sleep(10);
    }
    if (dialog == nullptr) return;
    Sleep(50);  // past its start
    found_ = true;
    prompt_ = MeasurePrompt(dialog);
    HWND edit = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    DWORD end = 0;
    SendMessageW(edit, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
    caret_ = end;
    if (text != nullptr)
      SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    // The keys as the dialog manager sees them: Return or Escape in the field.
    const WPARAM key = ok ? VK_RETURN : VK_ESCAPE;
    PostMessageW(edit, WM_KEYDOWN, key, 1);
    PostMessageW(edit, WM_KEYUP, key, 0xC0000001);
  }

  std::atomic<bool> found_{false};
  DWORD caret_ = 0;
  PromptFit prompt_;
  std::thread thread_;
};

TEST_F(Win32ShellTest, TheVolumeDialogTellsCancelFromAnEmptyAnswer) {
  // The prompt as the program asks it, and one three times as long: each
  // wraps onto as many lines as it needs, all of them shown.
  const std::string prompt =
      "Enter a percentage between 0 and 100, without the percent sign.";
  {
    DialogAnswer answer(L"12.5", true);
    EXPECT_EQ(shell.TextRequester("Volume", prompt, "30"), "12.5");
    answer.Join();
    ASSERT_TRUE(answer.found());
    EXPECT_TRUE(answer.prompt().Fits()) << answer.prompt().Describe();
  }
  {
    DialogAnswer answer(nullptr, true);
    EXPECT_EQ(shell.TextRequester("Volume", "p", "\xC3\xA9t\xC3\xA9"),
              "\xC3\xA9t\xC3\xA9");
    answer.Join();
    EXPECT_EQ(answer.caret(), 3u);  // at the end, nothing selected
  }
  {
    DialogAnswer answer(L"", true);
    EXPECT_EQ(shell.TextRequester("Volume", prompt + prompt + prompt, "30"),
              "");
    answer.Join();
    EXPECT_TRUE(answer.prompt().Fits()) << answer.prompt().Describe();
  }
  {
    DialogAnswer answer(L"99", false);
    EXPECT_EQ(shell.TextRequester("Volume", "p", "30"), std::nullopt);
  }
}

}  // namespace
}  // namespace veska
