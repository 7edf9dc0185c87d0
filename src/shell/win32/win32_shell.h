// The desktop shell on Windows: tray icon, menus, hotkey, message wait and
// dialogs through the system's own user interface calls.
#ifndef VESKA_SHELL_WIN32_WIN32_SHELL_H_
#define VESKA_SHELL_WIN32_WIN32_SHELL_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "shell/shell_services.h"

struct _NOTIFYICONDATAW;

namespace veska {

// Shell_NotifyIconW's type, named without the system headers.
using NotifyIconCall = int(__stdcall*)(unsigned long action,
                                       _NOTIFYICONDATAW* data);

class Win32Shell : public ShellServices {
 public:
  explicit Win32Shell(NotifyIconCall notify = nullptr);
  ~Win32Shell() override;
  Win32Shell(const Win32Shell&) = delete;
  Win32Shell& operator=(const Win32Shell&) = delete;

  ImageHandle LoadImage(const std::string& path) override;
  void OpenHiddenWindow(const std::string& title) override;
  bool AddTrayIcon(int32_t id, ImageHandle image) override;
  void RemoveTrayIcon(int32_t id) override;
  void SetTrayTooltip(int32_t id, const std::string& text) override;
  void CreatePopupMenu() override;
  void AddMenuItem(int32_t id, const std::string& text) override;
  void OpenSubMenu(const std::string& text) override;
  void CloseSubMenu() override;
  void SetMenuCheck(int32_t id, bool on) override;
  void ShowPopupMenu() override;
  bool RegisterGlobalHotkey(int32_t modifiers, int32_t virtual_key) override;
  int32_t WaitEvent(uint32_t timeout_ms) override;
  std::intptr_t EventParam() const override;
  int32_t EventMenuId() const override;
  bool EventIsRepeat() const override;
  int32_t ShowMessage(const std::string& title, const std::string& text,
                      int32_t style) override;
  std::optional<std::string> TextRequester(
      const std::string& title, const std::string& prompt,
      const std::string& default_text) override;
  std::string FolderRequester(const std::string& title,
                              const std::string& initial_folder) override;
  uint32_t ElapsedMs() override;
  void RunElevated(const std::string& file,
                   const std::string& parameters) override;
  bool ClaimSession() override;
  bool LoginStartExists() override;
  bool SetLoginStart(bool on, std::string* error) override;
  [[noreturn]] void ExitProcess(int exit_code) override;

  // For tests: the pop-up menu (an HMENU), the hidden window (an HWND), the
  // tooltip as last handed to the system, and the hotkey events from a
  // message the system posts. Tray icons go through `notify` when given
  // (Shell_NotifyIconW's arguments), the system's call otherwise.
  void* MenuHandle() const;
  void* WindowHandle() const;
  std::wstring TooltipOf(int32_t id) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Tray icon messages reach the hidden window as this message.
inline constexpr unsigned kTrayCallbackMessage = 12501;
// Window class of the hidden window, by which tests find it.
inline constexpr const wchar_t* kHiddenWindowClass = L"VESKA Shell Window";

}  // namespace veska

#endif  // VESKA_SHELL_WIN32_WIN32_SHELL_H_
