#include "shell/win32/win32_shell.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on
// The interface's own name, not the system's narrow-text macro.
#undef LoadImage

#include <cstdio>
#include <map>
#include <vector>

#include "shell/event_queue.h"
#include "shell/held_hotkey.h"
#include "shell/win32/tray_icon.h"
#include "shell/win32/wide_text.h"

namespace veska {
namespace {

constexpr std::size_t kTooltipLimit = 63;
constexpr int kRequesterWidth = 300;
constexpr int kRequesterHeight = 130;
constexpr int kHotkeyId = 0;
constexpr UINT kModNoRepeat = 0x4000;  // MOD_NOREPEAT

uint32_t SystemSetting(UINT action, uint32_t fallback) {
  UINT value = 0;
  return SystemParametersInfoW(action, 0, &value, 0) ? value : fallback;
}

bool KeyDown(int virtual_key) {
  return (GetAsyncKeyState(virtual_key) & 0x8000) != 0;
}

// --- The text requester: a dialog made in memory, controls added at its
// start, so that the dialog manager gives Enter, Escape and Tab their usual
// meaning.

constexpr int kEditId = 100;
constexpr int kPromptId = 101;

struct RequesterData {
  std::wstring title;
  std::wstring prompt;
  std::wstring text;
};

INT_PTR CALLBACK RequesterProc(HWND dialog, UINT message, WPARAM wparam,
                               LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* data = reinterpret_cast<RequesterData*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SetWindowTextW(dialog, data->title.c_str());
      const int x = (GetSystemMetrics(SM_CXSCREEN) - kRequesterWidth) / 2;
      const int y = (GetSystemMetrics(SM_CYSCREEN) - kRequesterHeight) / 2;
      SetWindowPos(dialog, HWND_TOP, x, y, kRequesterWidth, kRequesterHeight,
                   0);
      RECT client{};
      GetClientRect(dialog, &client);
      const int w = client.right;
      const int h = client.bottom;
      HFONT font =
          reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
      HINSTANCE instance = GetModuleHandleW(nullptr);
      HWND prompt = CreateWindowExW(
          0, L"STATIC", data->prompt.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT,
          10, 8, w - 20, h - 76, dialog,
          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPromptId)), instance,
          nullptr);
      HWND edit = CreateWindowExW(
          WS_EX_CLIENTEDGE, L"EDIT", data->text.c_str(),
          WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 10, h - 64,
          w - 20, 24, dialog,
          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), instance,
          nullptr);
      HWND ok = CreateWindowExW(
          0, L"BUTTON", L"OK",
          WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, w - 90, h - 34,
          80, 26, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)),
          instance, nullptr);
      for (HWND control : {prompt, edit, ok}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
      }
      SendMessageW(dialog, DM_SETDEFID, IDOK, 0);
      SetForegroundWindow(dialog);
      SetFocus(edit);
      // The caret at the end, nothing selected, so that typing adds to it.
      const auto length = static_cast<LPARAM>(data->text.size());
      SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        auto* data = reinterpret_cast<RequesterData*>(
            GetWindowLongPtrW(dialog, DWLP_USER));
        HWND edit = GetDlgItem(dialog, kEditId);
        const int length = GetWindowTextLengthW(edit);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        GetWindowTextW(edit, text.data(), length + 1);
        text.resize(static_cast<std::size_t>(length));
        data->text = text;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {  // Escape, or the close box
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// An empty dialog template with a caption and the shell's dialog font.
std::vector<WORD> RequesterTemplate() {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* header = reinterpret_cast<DLGTEMPLATE*>(words.data());
  header->style = DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | WS_POPUP |
                  WS_CAPTION | WS_SYSMENU;
  header->cdit = 0;
  header->cx = 200;
  header->cy = 80;
  words.push_back(0);  // no menu
  words.push_back(0);  // the standard dialog class
  words.push_back(0);  // no caption yet
  words.push_back(8);  // point size
  for (const wchar_t* c = L"MS Shell Dlg"; *c != L'\0'; ++c) {
    words.push_back(static_cast<WORD>(*c));
  }
  words.push_back(0);
  return words;
}

int CALLBACK BrowseProc(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) {
    SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  }
  return 0;
}

}  // namespace

struct Win32Shell::Impl {
  HWND window = nullptr;
  std::map<ImageHandle, HICON> icons;
  std::map<int32_t, HICON> tray_icons;  // added to the notification area
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
        // The notification area came back (its host restarted): icons are
        // not kept across that, so they are added again.
        for (const auto& [id, icon] : impl->tray_icons) {
          impl->NotifyIcon(NIM_ADD, id, icon);
        }
        return 0;
      }
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
    return Shell_NotifyIconW(action, &data) != FALSE;
  }

  void RemoveTrayIcons() {
    for (const auto& [id, icon] : tray_icons) NotifyIcon(NIM_DELETE, id, icon);
    tray_icons.clear();
  }
};

Win32Shell::Win32Shell() : impl_(std::make_unique<Impl>()) {
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
  if (!impl_->NotifyIcon(NIM_ADD, id, found->second)) return false;
  impl_->tray_icons[id] = found->second;
  return true;
}

void Win32Shell::RemoveTrayIcon(int32_t id) {
  const auto found = impl_->tray_icons.find(id);
  if (found == impl_->tray_icons.end()) return;
  impl_->NotifyIcon(NIM_DELETE, id, found->second);
  impl_->tray_icons.erase(found);
}

void Win32Shell::SetTrayTooltip(int32_t id, const std::string& text) {
  impl_->tooltips[id] = CutWide(Widen(text), kTooltipLimit);
  const auto found = impl_->tray_icons.find(id);
  if (found != impl_->tray_icons.end()) {
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
  RequesterData data{Widen(title), Widen(prompt), Widen(default_text)};
  std::vector<WORD> dialog_template = RequesterTemplate();
  const INT_PTR result = DialogBoxIndirectParamW(
      GetModuleHandleW(nullptr),
      reinterpret_cast<const DLGTEMPLATE*>(dialog_template.data()), nullptr,
      &RequesterProc, reinterpret_cast<LPARAM>(&data));
  if (result != IDOK) return std::nullopt;
  return Narrow(data.text);
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
  info.lpfn = &BrowseProc;
  info.lParam = initial.empty() ? 0 : reinterpret_cast<LPARAM>(initial.c_str());
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
