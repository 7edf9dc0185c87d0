// The desktop shell as the program calls it: tray icon and tooltip, pop-up
// menu, one global hotkey, the event wait, message boxes and requesters, the
// clock, starting a program elevated, one instance per desktop session, the
// start at login, and the end of the process.
#ifndef VESKA_SHELL_SHELL_SERVICES_H_
#define VESKA_SHELL_SHELL_SERVICES_H_

#include <cstdint>
#include <optional>
#include <string>

namespace veska {

// Codes returned by WaitEvent.
inline constexpr int32_t kEventTimeout = 0;
inline constexpr int32_t kEventHotkey = 786;
inline constexpr int32_t kEventMenu = 13101;
inline constexpr int32_t kEventTray = 13102;
// The desktop asks the program to end (its window closed from outside, the
// session ending): the program ends as "Exit" ends it.
inline constexpr int32_t kEventQuit = 13103;

// ShowMessage styles and answers.
inline constexpr int32_t kMessageOk = 0;
inline constexpr int32_t kMessageYesNo = 4;
inline constexpr int32_t kAnswerOk = 1;
inline constexpr int32_t kAnswerYes = 6;
inline constexpr int32_t kAnswerNo = 7;

// Hotkey modifier mask.
inline constexpr int32_t kModAlt = 1;
inline constexpr int32_t kModControl = 2;
inline constexpr int32_t kModShift = 4;
inline constexpr int32_t kModWin = 8;

// An image loaded for the tray icon; 0 is no image.
using ImageHandle = std::uintptr_t;

class ShellServices {
 public:
  virtual ~ShellServices() = default;

  // Null image when the file is missing or unreadable.
  virtual ImageHandle LoadImage(const std::string& path) = 0;
  virtual void OpenHiddenWindow(const std::string& title) = 0;
  // Not added without an image.
  virtual bool AddTrayIcon(int32_t id, ImageHandle image) = 0;
  virtual void RemoveTrayIcon(int32_t id) = 0;
  // Cut to 127 characters, the most a Windows tray tooltip holds.
  virtual void SetTrayTooltip(int32_t id, const std::string& text) = 0;

  // Items go, in call order, into the innermost open sub-menu.
  virtual void CreatePopupMenu() = 0;
  virtual void AddMenuItem(int32_t id, const std::string& text) = 0;
  virtual void OpenSubMenu(const std::string& text) = 0;
  virtual void CloseSubMenu() = 0;
  virtual void SetMenuCheck(int32_t id, bool on) = 0;
  // The choice arrives later as a kEventMenu event.
  virtual void ShowPopupMenu() = 0;

  // Registers hotkey id 0; false when the keys are taken or unknown.
  virtual bool RegisterGlobalHotkey(int32_t modifiers, int32_t virtual_key) = 0;

  // Waits at most `timeout_ms` for one event and returns its code.
  virtual int32_t WaitEvent(uint32_t timeout_ms) = 0;
  // Parameter of the latest event (the hotkey id for kEventHotkey).
  virtual std::intptr_t EventParam() const = 0;
  // Id of the latest menu choice.
  virtual int32_t EventMenuId() const = 0;
  // Whether the latest hotkey event only repeats keys held down since an
  // earlier one (the keyboard's auto-repeat) rather than a new press.
  virtual bool EventIsRepeat() const = 0;

  // Modal. Returns kAnswerYes / kAnswerNo for kMessageYesNo.
  virtual int32_t ShowMessage(const std::string& title, const std::string& text,
                              int32_t style) = 0;
  // Modal; nullopt on cancel, so that an empty answer is told apart.
  virtual std::optional<std::string> TextRequester(
      const std::string& title, const std::string& prompt,
      const std::string& default_text) = 0;
  // Modal; the chosen folder with a trailing separator, "" on cancel.
  virtual std::string FolderRequester(const std::string& title,
                                      const std::string& initial_folder) = 0;

  // Milliseconds on a steady clock; only differences mean anything.
  virtual uint32_t ElapsedMs() = 0;

  // Starts a program with administrator rights; never waits for it.
  virtual void RunElevated(const std::string& file,
                           const std::string& parameters) = 0;

  // Claims this desktop session for this process, until it ends: false when
  // another instance of the program holds it. A session that cannot be told
  // (no place for the claim) counts as claimed, so that the program runs.
  virtual bool ClaimSession() = 0;

  // Whether the desktop starts this program, in the current working folder,
  // when the user logs in. An entry for another copy or folder is not ours.
  virtual bool LoginStartExists() = 0;
  // Makes or removes that entry; only an entry of ours is removed. False,
  // with the reason in `*error`, when the entry could not be changed; nothing
  // half-written is left then.
  virtual bool SetLoginStart(bool on, std::string* error) = 0;

  // Ends the process. The scripted binding used by tests throws
  // ProcessExit instead, so that a test sees the way out.
  [[noreturn]] virtual void ExitProcess(int exit_code) = 0;
};

}  // namespace veska

#endif  // VESKA_SHELL_SHELL_SERVICES_H_
