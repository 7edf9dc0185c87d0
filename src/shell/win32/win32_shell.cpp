#include "shell/win32/win32_shell.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <commctrl.h>
// clang-format on
// The interface's own name, not the system's narrow-text macro.
#undef LoadImage

#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "shell/event_queue.h"
#include "shell/held_hotkey.h"
#include "shell/win32/session_and_login.h"
#include "shell/win32/text_requester.h"
#include "shell/win32/tray_icon.h"
#include "shell/win32/wide_text.h"

namespace veska {
namespace {

// The whole room of the icon's tip but its terminator. The texts of packs
// with only the classic elements stay far below it, so they read as ever;
// the new elements' longer ones get the platform's room.
constexpr std::size_t kTooltipLimit =
    sizeof(NOTIFYICONDATAW::szTip) / sizeof(wchar_t) - 1;
static_assert(kTooltipLimit == 127);
constexpr int kHotkeyId = 0;
// While the notification area refuses an icon (its host still starting at
// logon), the add is tried again this often.
constexpr UINT_PTR kIconRetryTimer = 1;
constexpr UINT kIconRetryMs = 1000;
constexpr UINT kModNoRepeat = 0x4000;  // MOD_NOREPEAT

uint32_t SystemSetting(UINT action, uint32_t fallback) {
  UINT value = 0;
  return SystemParametersInfoW(action, 0, &value, 0) ? value : fallback;
}

bool KeyDown(int virtual_key) {
  return (GetAsyncKeyState(virtual_key) & 0x8000) != 0;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD length =
      GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

BOOL CALLBACK ScrollTreeToSelection(HWND child, LPARAM) {
  wchar_t name[32] = {};
  GetClassNameW(child, name, 32);
  if (lstrcmpW(name, L"SysTreeView32") != 0) return TRUE;
  const LRESULT item = SendMessageW(child, TVM_GETNEXTITEM, TVGN_CARET, 0);
  if (item != 0) SendMessageW(child, TVM_ENSUREVISIBLE, 0, item);
  return FALSE;
}

// `data` is the start folder, a full path (the selection takes only that).
int CALLBACK BrowseProc(HWND window, UINT message, LPARAM, LPARAM data) {
  if (data == 0) return 0;
  if (message == BFFM_INITIALIZED) {
    SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    // A browser that fills its tree after this call (Wine's stops at the
    // drive or on the way) selects it once more when it is ready. The
    // folder's text lives until the dialog has gone.
    PostMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  } else if (message == BFFM_SELCHANGED) {
    // The newer dialog selects without scrolling the tree to the selection.
    EnumChildWindows(window, &ScrollTreeToSelection, 0);
  }
  return 0;
}

}  // namespace

struct Win32Shell::Impl {
  explicit Impl(NotifyIconCall notify_call) : notify(notify_call) {}

  NotifyIconCall notify;
  HWND window = nullptr;
  std::map<ImageHandle, HICON> icons;
  std::map<int32_t, HICON> tray_icons;  // wanted in the notification area
  std::set<int32_t> shown;              // of those, the ones it took
  std::map<int32_t, std::wstring> tooltips;
  HMENU menu = nullptr;
  std::vector<HMENU> open_menus;  // innermost last
  ShellEventQueue events;
  bool hotkey_registered = false;
  int32_t hotkey_modifiers = 0;
  int32_t hotkey_key = 0;
  HeldHotkey held{
      KeyboardRepeatDelayMs(SystemSetting(SPI_GETKEYBOARDDELAY, 1)),
      KeyboardRepeatIntervalMs(SystemSetting(SPI_GETKEYBOARDSPEED, 31))};
  bool com_ready = false;
  UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  LARGE_INTEGER frequency{};

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) {
    auto* impl =
        reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (impl != nullptr) {
      if (message == impl->taskbar_created && message != 0) {
        // The notification area came (back): icons are not kept across its
        // host's restart, so every wanted one is added again.
        impl->shown.clear();
        impl->ShowWantedIcons();
        return 0;
      }
      if (message == WM_TIMER && wparam == kIconRetryTimer) {
        impl->ShowWantedIcons();
        return 0;
      }
      // Asked to end from outside (a close request, the session ending):
      // the main loop ends the program as "Exit" does. Everything the user
      // chose is saved as it is chosen, so a session that ends the process
      // before the main loop gets there loses nothing.
      if (message == WM_CLOSE ||
          (message == WM_ENDSESSION && wparam != FALSE)) {
        impl->events.Push(kEventQuit, 0, 0);
        return 0;
      }
      if (message == WM_QUERYENDSESSION) return TRUE;
      if (message == kTrayCallbackMessage) {
        switch (LOWORD(lparam)) {
          case WM_LBUTTONDOWN:
          case WM_RBUTTONDOWN:
          case WM_LBUTTONDBLCLK:
          case WM_RBUTTONDBLCLK:
            impl->events.Push(kEventTray, 0, 0);
            break;
          default:
            break;
        }
        return 0;
      }
      if (message == WM_COMMAND && HIWORD(wparam) == 0 && lparam == 0) {
        const auto id = static_cast<int32_t>(LOWORD(wparam));
        impl->events.Push(kEventMenu, id, id);
        return 0;
      }
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  bool HotkeyDown() const {
    if (!KeyDown(hotkey_key)) return false;
    if ((hotkey_modifiers & kModAlt) != 0 && !KeyDown(VK_MENU)) return false;
    if ((hotkey_modifiers & kModControl) != 0 && !KeyDown(VK_CONTROL)) {
      return false;
    }
    if ((hotkey_modifiers & kModShift) != 0 && !KeyDown(VK_SHIFT)) return false;
    if ((hotkey_modifiers & kModWin) != 0 && !KeyDown(VK_LWIN) &&
        !KeyDown(VK_RWIN)) {
      return false;
    }
    return true;
  }

  uint32_t Now() const {
    LARGE_INTEGER counter{};
    if (frequency.QuadPart > 0 && QueryPerformanceCounter(&counter)) {
      const auto c = static_cast<uint64_t>(counter.QuadPart);
      const auto f = static_cast<uint64_t>(frequency.QuadPart);
      return static_cast<uint32_t>((c / f) * 1000 + (c % f) * 1000 / f);
    }
    return GetTickCount();
  }

  // When `msg` was posted, on the clock of Now().
  uint32_t PostedAt(const MSG& msg) const {
    return Now() - (GetTickCount() - static_cast<DWORD>(msg.time));
  }

  // Takes every message waiting; hotkey messages become events here, the
  // rest go to their windows, whose procedure queues the events.
  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
      if (msg.message == WM_HOTKEY && msg.hwnd == nullptr) {
        if (static_cast<int>(msg.wParam) != kHotkeyId) {
          events.Push(kEventHotkey, static_cast<std::intptr_t>(msg.wParam), 0);
        } else if (held.OnMessage(Now(), HotkeyDown(), PostedAt(msg)) > 0) {
          events.Push(kEventHotkey, kHotkeyId, 0);
        }
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // Made while the keys stay down: a repeat, not a new press.
    if (held.Poll(Now(), held.held() && HotkeyDown()) > 0) {
      events.Push(kEventHotkey, kHotkeyId, 0, true);
    }
  }

  bool NotifyIcon(DWORD action, int32_t id, HICON icon) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = static_cast<UINT>(id);
    if (action != NIM_DELETE) {
      data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
      data.uCallbackMessage = kTrayCallbackMessage;
      data.hIcon = icon;
      const auto tip = tooltips.find(id);
      if (tip != tooltips.end()) {
        lstrcpynW(data.szTip, tip->second.c_str(), ARRAYSIZE(data.szTip));
      }
    }
    return notify(action, &data) != FALSE;
  }

  // Adds the wanted icons the notification area has not taken yet; while
  // one is refused, tries again on a timer.
  void ShowWantedIcons() {
    bool refused = false;
    for (const auto& [id, icon] : tray_icons) {
      if (shown.count(id) != 0) continue;
      if (NotifyIcon(NIM_ADD, id, icon)) {
        shown.insert(id);
      } else {
        refused = true;
      }
    }
    if (refused) {
      SetTimer(window, kIconRetryTimer, kIconRetryMs, nullptr);
    } else {
      KillTimer(window, kIconRetryTimer);
    }
  }

  void RemoveTrayIcons() {
    for (const auto& [id, icon] : tray_icons) {
      if (shown.count(id) != 0) NotifyIcon(NIM_DELETE, id, icon);
    }
    tray_icons.clear();
    shown.clear();
  }
};

Win32Shell::Win32Shell(NotifyIconCall notify)
    : impl_(std::make_unique<Impl>(notify != nullptr ? notify
                                                     : &Shell_NotifyIconW)) {
  QueryPerformanceFrequency(&impl_->frequency);
  // The folder browser's newer style needs the single-threaded apartment.
  impl_->com_ready = SUCCEEDED(OleInitialize(nullptr));
}

Win32Shell::~Win32Shell() {
  impl_->RemoveTrayIcons();
  if (impl_->hotkey_registered) UnregisterHotKey(nullptr, kHotkeyId);
  if (impl_->menu != nullptr) DestroyMenu(impl_->menu);
  if (impl_->window != nullptr) DestroyWindow(impl_->window);
  for (const auto& [handle, icon] : impl_->icons) DestroyIcon(icon);
  if (impl_->com_ready) OleUninitialize();
}

ImageHandle Win32Shell::LoadImage(const std::string& path) {
  HICON icon = LoadTrayIcon(Widen(path));
  if (icon == nullptr) return 0;
  const auto handle = reinterpret_cast<ImageHandle>(icon);
  impl_->icons[handle] = icon;
  return handle;
}

void Win32Shell::OpenHiddenWindow(const std::string& title) {
  if (impl_->window != nullptr) return;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &Impl::WindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kHiddenWindowClass;
  RegisterClassExW(&window_class);
  RECT rect{0, 0, 100, 100};
  AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0);
  impl_->window = CreateWindowExW(
      0, kHiddenWindowClass, Widen(title).c_str(), WS_OVERLAPPEDWINDOW,
      CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left,
      rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
  if (impl_->window != nullptr) {
    SetWindowLongPtrW(impl_->window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(impl_.get()));
  }
}

bool Win32Shell::AddTrayIcon(int32_t id, ImageHandle image) {
  const auto found = impl_->icons.find(image);
  if (found == impl_->icons.end() || impl_->window == nullptr) return false;
  if (impl_->tray_icons.count(id) != 0) return false;
  // A refused add is retried until the notification area takes the icon.
  impl_->tray_icons[id] = found->second;
  impl_->ShowWantedIcons();
  return true;
}

void Win32Shell::RemoveTrayIcon(int32_t id) {
  const auto found = impl_->tray_icons.find(id);
  if (found == impl_->tray_icons.end()) return;
  if (impl_->shown.erase(id) != 0) {
    impl_->NotifyIcon(NIM_DELETE, id, found->second);
  }
  impl_->tray_icons.erase(found);
}

void Win32Shell::SetTrayTooltip(int32_t id, const std::string& text) {
  impl_->tooltips[id] = CutWide(Widen(text), kTooltipLimit);
  const auto found = impl_->tray_icons.find(id);
  if (found != impl_->tray_icons.end() && impl_->shown.count(id) != 0) {
    impl_->NotifyIcon(NIM_MODIFY, id, found->second);
  }
}

void Win32Shell::CreatePopupMenu() {
  if (impl_->menu != nullptr) DestroyMenu(impl_->menu);
  impl_->menu = ::CreatePopupMenu();
  impl_->open_menus.assign(1, impl_->menu);
}

void Win32Shell::AddMenuItem(int32_t id, const std::string& text) {
  if (impl_->open_menus.empty()) return;
  AppendMenuW(impl_->open_menus.back(), MF_STRING,
              static_cast<UINT_PTR>(static_cast<UINT>(id)),
              Widen(text).c_str());
}

void Win32Shell::OpenSubMenu(const std::string& text) {
  if (impl_->open_menus.empty()) return;
  HMENU sub = ::CreatePopupMenu();
  AppendMenuW(impl_->open_menus.back(), MF_POPUP,
              reinterpret_cast<UINT_PTR>(sub), Widen(text).c_str());
  impl_->open_menus.push_back(sub);
}

void Win32Shell::CloseSubMenu() {
  if (impl_->open_menus.size() > 1) impl_->open_menus.pop_back();
}

void Win32Shell::SetMenuCheck(int32_t id, bool on) {
  if (impl_->menu == nullptr) return;
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STATE;
  if (!GetMenuItemInfoW(impl_->menu, static_cast<UINT>(id), FALSE, &info)) {
    return;
  }
  info.fState = on ? (info.fState | MFS_CHECKED) : (info.fState & ~MFS_CHECKED);
  SetMenuItemInfoW(impl_->menu, static_cast<UINT>(id), FALSE, &info);
}

void Win32Shell::ShowPopupMenu() {
  if (impl_->menu == nullptr || impl_->window == nullptr) return;
  POINT cursor{};
  GetCursorPos(&cursor);
  // Without the foreground the menu would not close when clicked away.
  SetForegroundWindow(impl_->window);
  TrackPopupMenu(impl_->menu, TPM_RIGHTBUTTON, cursor.x - 1, cursor.y - 1, 0,
                 impl_->window, nullptr);
  PostMessageW(impl_->window, WM_NULL, 0, 0);
}

bool Win32Shell::RegisterGlobalHotkey(int32_t modifiers, int32_t virtual_key) {
  if (impl_->hotkey_registered) {
    UnregisterHotKey(nullptr, kHotkeyId);
    impl_->hotkey_registered = false;
  }
  // The system's own repeats are not wanted: the held-keys test makes them.
  const UINT mods = static_cast<UINT>(modifiers & 0xF) | kModNoRepeat;
  if (!RegisterHotKey(nullptr, kHotkeyId, mods,
                      static_cast<UINT>(virtual_key))) {
    return false;
  }
  impl_->hotkey_registered = true;
  impl_->hotkey_modifiers = modifiers;
  impl_->hotkey_key = virtual_key;
  return true;
}

int32_t Win32Shell::WaitEvent(uint32_t timeout_ms) {
  Impl& impl = *impl_;
  impl.Pump();
  const uint32_t start = impl.Now();
  while (impl.events.empty()) {
    const uint32_t spent = impl.Now() - start;
    if (spent >= timeout_ms) break;
    DWORD wait = timeout_ms - spent;
    if (impl.held.held()) {
      // Wake for the next repeat, and look at the keys now and then.
      wait = std::min<DWORD>(
          wait, std::max<uint32_t>(impl.held.MsUntilRepeat(impl.Now()), 1));
      wait = std::min<DWORD>(wait, 10);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    impl.Pump();
  }
  return impl.events.Take();
}

std::intptr_t Win32Shell::EventParam() const { return impl_->events.param(); }

bool Win32Shell::EventIsRepeat() const { return impl_->events.repeat(); }

int32_t Win32Shell::EventMenuId() const { return impl_->events.menu_id(); }

int32_t Win32Shell::ShowMessage(const std::string& title,
                                const std::string& text, int32_t style) {
  const UINT type = (style == kMessageYesNo ? MB_YESNO : MB_OK) |
                    MB_SETFOREGROUND | MB_TASKMODAL;
  const int answer =
      MessageBoxW(nullptr, Widen(text).c_str(), Widen(title).c_str(), type);
  if (style == kMessageYesNo) return answer == IDYES ? kAnswerYes : kAnswerNo;
  return kAnswerOk;
}

std::optional<std::string> Win32Shell::TextRequester(
    const std::string& title, const std::string& prompt,
    const std::string& default_text) {
  const std::optional<std::wstring> answer =
      AskText(Widen(title), Widen(prompt), Widen(default_text));
  if (!answer.has_value()) return std::nullopt;
  return Narrow(*answer);
}

std::string Win32Shell::FolderRequester(const std::string& title,
                                        const std::string& initial_folder) {
  std::wstring initial = Widen(initial_folder);
  for (wchar_t& c : initial) {
    if (c == L'/') c = L'\\';
  }
  std::wstring title_wide = Widen(title);
  wchar_t display_name[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = impl_->window;
  info.pszDisplayName = display_name;
  info.lpszTitle = title_wide.c_str();
  info.ulFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS;
  const std::wstring start = initial.empty() ? initial : FullPath(initial);
  info.lpfn = &BrowseProc;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return "";
  // Long paths: the call takes no size, so give it the most it can write.
  std::wstring path(32768, L'\0');
  const bool has_path = SHGetPathFromIDListEx(chosen, path.data(),
                                              static_cast<DWORD>(path.size()),
                                              GPFIDL_DEFAULT) != FALSE;
  CoTaskMemFree(chosen);
  if (!has_path) return "";
  path.resize(wcslen(path.c_str()));
  if (path.empty()) return "";
  if (path.back() != L'\\') path += L'\\';
  return Narrow(path);
}

uint32_t Win32Shell::ElapsedMs() { return impl_->Now(); }

void Win32Shell::RunElevated(const std::string& file,
                             const std::string& parameters) {
  std::wstring target = Widen(file);
  // A bare name is looked for beside this program, then in the absolute
  // PATH entries only: the shell's own search would try the working folder
  // first, where anyone may have put a program of that name. Not found, the
  // sibling's path is passed and fails silently like any missing program.
  if (!target.empty() && target.find_first_of(L"\\/:") == std::wstring::npos) {
    std::vector<std::wstring> folders;
    std::wstring own(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
    if (length > 0 && length < own.size()) {
      own.resize(length);
      folders.push_back(own.substr(0, own.find_last_of(L"\\/") + 1));
    }
    std::wstring path(32768, L'\0');
    const DWORD path_length = GetEnvironmentVariableW(
        L"PATH", path.data(), static_cast<DWORD>(path.size()));
    path.resize(path_length < path.size() ? path_length : 0);
    for (size_t start = 0; start < path.size();) {
      size_t end = path.find(L';', start);
      if (end == std::wstring::npos) end = path.size();
      std::wstring folder = path.substr(start, end - start);
      start = end + 1;
      // Absolute only: a drive and a root, or a network share.
      const bool absolute = (folder.size() >= 3 && folder[1] == L':' &&
                             (folder[2] == L'\\' || folder[2] == L'/')) ||
                            folder.rfind(L"\\\\", 0) == 0;
      if (!absolute) continue;
      if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
      folders.push_back(folder);
    }
    const std::wstring name = target;
    if (!folders.empty()) target = folders.front() + name;
    for (const std::wstring& folder : folders) {
      const DWORD attributes = GetFileAttributesW((folder + name).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        target = folder + name;
        break;
      }
    }
  }
  const std::wstring wide_parameters = Widen(parameters);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // A missing program or a refused elevation fails silently, with no box.
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = GetDesktopWindow();
  info.lpVerb = L"runas";
  info.lpFile = target.c_str();
  info.lpParameters =
      wide_parameters.empty() ? nullptr : wide_parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
}

bool Win32Shell::ClaimSession() { return ClaimWindowsSession(); }

bool Win32Shell::LoginStartExists() { return StartupShortcutExists(); }

bool Win32Shell::SetLoginStart(bool on, std::string* error) {
  return SetStartupShortcut(on, error);
}

void Win32Shell::ExitProcess(int exit_code) {
  impl_->RemoveTrayIcons();
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(exit_code));
}

void* Win32Shell::MenuHandle() const { return impl_->menu; }

void* Win32Shell::WindowHandle() const { return impl_->window; }

std::wstring Win32Shell::TooltipOf(int32_t id) const {
  const auto found = impl_->tooltips.find(id);
  return found == impl_->tooltips.end() ? std::wstring() : found->second;
}

}  // namespace veska
