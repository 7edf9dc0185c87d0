// The Win32 shell under Wine, as far as it goes without a user: the tray
// icon's image and tooltip, the menu as built, hotkey and menu messages
// through the wait, and the volume dialog answered by a second thread.
#include "shell/win32/win32_shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

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
  shell.SetTrayTooltip(1, std::string(80, 'a'));
  EXPECT_EQ(shell.TooltipOf(1), std::wstring(63, L'a'));

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
  SIZE size() const { return size_; }

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
    RECT rect{};
    GetWindowRect(dialog, &rect);
    size_ = {rect.right - rect.left, rect.bottom - rect.top};
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
  SIZE size_{};
  std::thread thread_;
};

TEST_F(Win32ShellTest, TheVolumeDialogTellsCancelFromAnEmptyAnswer) {
  {
    DialogAnswer answer(L"12.5", true);
    EXPECT_EQ(shell.TextRequester("Volume", "Enter a percentage", "30"),
              "12.5");
    answer.Join();
    ASSERT_TRUE(answer.found());
  }
  {
    DialogAnswer answer(nullptr, true);
    EXPECT_EQ(shell.TextRequester("Volume", "p", "\xC3\xA9t\xC3\xA9"),
              "\xC3\xA9t\xC3\xA9");
    answer.Join();
    EXPECT_EQ(answer.caret(), 3u);  // at the end, nothing selected
    EXPECT_EQ(answer.size().cx, 300);
    EXPECT_EQ(answer.size().cy, 130);
  }
  {
    DialogAnswer answer(L"", true);
    EXPECT_EQ(shell.TextRequester("Volume", "p", "30"), "");
  }
  {
    DialogAnswer answer(L"99", false);
    EXPECT_EQ(shell.TextRequester("Volume", "p", "30"), std::nullopt);
  }
}

}  // namespace
}  // namespace veska
