// A desktop shell that replays a script: queued events on a clock the test
// moves, canned dialog answers, and a record of everything the program showed.
#ifndef VESKA_SHELL_SCRIPT_SCRIPTED_SHELL_H_
#define VESKA_SHELL_SCRIPT_SCRIPTED_SHELL_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shell/shell_services.h"

namespace veska {

// Thrown by ScriptedShell::ExitProcess, and when a script runs out.
struct ProcessExit {
  int code;
};

class ScriptedShell : public ShellServices {
 public:
  // Exit code of the ProcessExit thrown when the clock passes the end of the
  // script with no event left.
  static constexpr int kScriptEnded = -1000;

  struct Message {
    std::string title;
    std::string text;
    int32_t style;
  };
  struct MenuItem {
    int32_t id;
    std::string text;
    std::string submenu;  // "" at the top level
    bool checked = false;
  };

  // --- The script ---
  // Events are delivered in order, each not before its time.
  void QueueEvent(uint32_t at_ms, int32_t code, std::intptr_t param = 0,
                  int32_t menu_id = 0, bool repeat = false);
  void QueueMenuChoice(uint32_t at_ms, int32_t id) {
    QueueEvent(at_ms, kEventMenu, 0, id);
  }
  void QueueHotkey(uint32_t at_ms, int32_t id = 0) {
    QueueEvent(at_ms, kEventHotkey, id);
  }
  // Keys held from `at_ms` for `held_ms`: a press, then the keyboard's
  // repeats from `delay_ms` on, one every `interval_ms`.
  void QueueHotkeyHold(uint32_t at_ms, uint32_t held_ms,
                       uint32_t delay_ms = 500, uint32_t interval_ms = 40);
  void QueueTrayClick(uint32_t at_ms) { QueueEvent(at_ms, kEventTray); }
  // Answers given to the modal calls, in order. Only Yes/No messages take
  // one, as an OK box can only answer kAnswerOk. Without one left, a Yes/No
  // message answers kAnswerNo and requesters cancel.
  void AnswerMessage(int32_t answer) { message_answers_.push_back(answer); }
  void AnswerText(const std::string& text) { text_answers_.push_back(text); }
  void CancelText() { text_answers_.push_back(std::nullopt); }
  void AnswerFolder(const std::string& folder) {
    folder_answers_.push_back(folder);
  }
  // Time each modal call keeps the program waiting.
  void SetModalDurationMs(uint32_t ms) { modal_ms_ = ms; }
  // With no event left, the clock may run this far before the script ends
  // (ten simulated minutes unless set).
  void SetEndMs(uint32_t at_ms) { end_ms_ = at_ms; }
  void SetClock(uint32_t now_ms) { now_ = now_ms; }
  void AdvanceClock(uint32_t ms) { now_ += ms; }
  // Called at the start of every WaitEvent with the current time.
  void OnWait(std::function<void(uint32_t now_ms)> hook) {
    on_wait_ = std::move(hook);
  }
  void SetImageLoads(bool loads) { image_loads_ = loads; }
  // Another instance holds the desktop session.
  void SetSessionTaken(bool taken) { session_taken_ = taken; }
  // The login start entry, kept in memory: none, ours, or one that starts
  // another copy or folder.
  enum class LoginEntry { kNone, kOurs, kOther };
  void SetLoginEntry(LoginEntry entry) { login_entry_ = entry; }
  // Every later SetLoginStart fails with this reason ("" succeeds again).
  void FailLoginStart(const std::string& reason) { login_failure_ = reason; }

  // --- What the program did ---
  const std::vector<Message>& messages() const { return messages_; }
  const std::vector<std::string>& tooltips() const { return tooltips_; }
  const std::vector<MenuItem>& menu() const { return menu_; }
  bool IsChecked(int32_t id) const;
  bool HasMenuItem(int32_t id) const;
  bool tray_icon_added() const { return tray_icon_; }
  const std::string& window_title() const { return window_title_; }
  int popup_count() const { return popups_; }
  int hotkey_modifiers() const { return hotkey_modifiers_; }
  int hotkey_key() const { return hotkey_key_; }
  bool hotkey_registered() const { return hotkey_registered_; }
  const std::vector<std::string>& requester_calls() const {
    return requester_calls_;
  }
  const std::vector<std::string>& elevated() const { return elevated_; }
  // Every call, in order, by name, for tests of sequences.
  const std::vector<std::string>& calls() const { return calls_; }
  uint32_t now() const { return now_; }
  int wait_count() const { return waits_; }
  LoginEntry login_entry() const { return login_entry_; }
  bool session_claimed() const { return session_claimed_; }

  // --- ShellServices ---
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
  std::intptr_t EventParam() const override { return event_param_; }
  int32_t EventMenuId() const override { return event_menu_id_; }
  bool EventIsRepeat() const override { return event_repeat_; }
  int32_t ShowMessage(const std::string& title, const std::string& text,
                      int32_t style) override;
  std::optional<std::string> TextRequester(
      const std::string& title, const std::string& prompt,
      const std::string& default_text) override;
  std::string FolderRequester(const std::string& title,
                              const std::string& initial_folder) override;
  uint32_t ElapsedMs() override { return now_; }
  void RunElevated(const std::string& file,
                   const std::string& parameters) override;
  bool ClaimSession() override;
  bool LoginStartExists() override;
  bool SetLoginStart(bool on, std::string* error) override;
  [[noreturn]] void ExitProcess(int exit_code) override;

 private:
  struct Event {
    uint32_t at_ms;
    int32_t code;
    std::intptr_t param;
    int32_t menu_id;
    bool repeat;
  };

  std::deque<Event> events_;
  std::deque<int32_t> message_answers_;
  std::deque<std::optional<std::string>> text_answers_;
  std::deque<std::string> folder_answers_;
  std::function<void(uint32_t)> on_wait_;
  uint32_t modal_ms_ = 0;
  uint32_t end_ms_ = 600000;
  uint32_t now_ = 0;
  bool image_loads_ = true;
  bool session_taken_ = false;
  bool session_claimed_ = false;
  LoginEntry login_entry_ = LoginEntry::kNone;
  std::string login_failure_;

  std::vector<Message> messages_;
  std::vector<std::string> tooltips_;
  std::vector<MenuItem> menu_;
  std::vector<std::string> submenus_;
  bool tray_icon_ = false;
  std::string window_title_;
  int popups_ = 0;
  int hotkey_modifiers_ = 0;
  int hotkey_key_ = 0;
  bool hotkey_registered_ = false;
  std::vector<std::string> requester_calls_;
  std::vector<std::string> elevated_;
  std::vector<std::string> calls_;
  std::intptr_t event_param_ = 0;
  int32_t event_menu_id_ = 0;
  bool event_repeat_ = false;
  int waits_ = 0;
};

}  // namespace veska

#endif  // VESKA_SHELL_SCRIPT_SCRIPTED_SHELL_H_
