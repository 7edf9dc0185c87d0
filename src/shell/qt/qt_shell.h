// The desktop shell on a Linux desktop: tray icon, menus and dialogs through
// the widget toolkit, the global hotkey through X11 or, in a Wayland session,
// the desktop portal. The toolkit stays out of this header, so that main()
// can include it freely.
#ifndef VESKA_SHELL_QT_QT_SHELL_H_
#define VESKA_SHELL_QT_QT_SHELL_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "shell/shell_services.h"

namespace veska {

class QtShell : public ShellServices {
 public:
  // Makes the shell, and with it the toolkit's application object, when a
  // usable display exists. Otherwise returns null and puts in `error` a
  // message for standard error; nothing of the toolkit has been made then.
  // At most one shell exists per process.
  static std::unique_ptr<QtShell> Create(std::string* error);

  // Where the start at login is kept ($XDG_CONFIG_HOME/autostart); without
  // one the program cannot start at login.
  void SetAutostartFolder(const std::filesystem::path& folder);

  ~QtShell() override;
  QtShell(const QtShell&) = delete;
  QtShell& operator=(const QtShell&) = delete;

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

 private:
  struct Impl;
  explicit QtShell(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

// Object names by which tests find the shell's toolkit objects: the pop-up
// menu is a top-level widget, each tray icon a child of the application.
inline constexpr const char* kPopupMenuObjectName = "veska-popup-menu";
inline constexpr const char* kTrayIconObjectNamePrefix = "veska-tray-icon-";

}  // namespace veska

#endif  // VESKA_SHELL_QT_QT_SHELL_H_
