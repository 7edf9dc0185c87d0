#include "shell/script/scripted_shell.h"

#include <algorithm>

namespace veska {

void ScriptedShell::QueueEvent(uint32_t at_ms, int32_t code,
                               std::intptr_t param, int32_t menu_id,
                               bool repeat) {
  events_.push_back({at_ms, code, param, menu_id, repeat});
}

void ScriptedShell::QueueHotkeyHold(uint32_t at_ms, uint32_t held_ms,
                                    uint32_t delay_ms, uint32_t interval_ms) {
  QueueHotkey(at_ms);
  for (uint32_t t = delay_ms; t < held_ms;
       t += std::max<uint32_t>(interval_ms, 1)) {
    QueueEvent(at_ms + t, kEventHotkey, 0, 0, true);
  }
}

bool ScriptedShell::IsChecked(int32_t id) const {
  for (const MenuItem& item : menu_) {
    if (item.id == id) return item.checked;
  }
  return false;
}

bool ScriptedShell::HasMenuItem(int32_t id) const {
  return std::any_of(menu_.begin(), menu_.end(),
                     [id](const MenuItem& item) { return item.id == id; });
}

ImageHandle ScriptedShell::LoadImage(const std::string& path) {
  calls_.push_back("LoadImage " + path);
  return image_loads_ ? 1 : 0;
}

void ScriptedShell::OpenHiddenWindow(const std::string& title) {
  calls_.push_back("OpenHiddenWindow " + title);
  window_title_ = title;
}

bool ScriptedShell::AddTrayIcon(int32_t id, ImageHandle image) {
  calls_.push_back("AddTrayIcon " + std::to_string(id));
  if (image == 0) return false;
  tray_icon_ = true;
  return true;
}

void ScriptedShell::RemoveTrayIcon(int32_t id) {
  calls_.push_back("RemoveTrayIcon " + std::to_string(id));
  tray_icon_ = false;
}

void ScriptedShell::SetTrayTooltip(int32_t id, const std::string& text) {
  calls_.push_back("SetTrayTooltip " + std::to_string(id));
  tooltips_.push_back(text.substr(0, 127));
}

void ScriptedShell::CreatePopupMenu() {
  calls_.push_back("CreatePopupMenu");
  menu_.clear();
  submenus_.clear();
}

void ScriptedShell::AddMenuItem(int32_t id, const std::string& text) {
  menu_.push_back(
      {id, text, submenus_.empty() ? std::string() : submenus_.back(), false});
}

void ScriptedShell::OpenSubMenu(const std::string& text) {
  submenus_.push_back(text);
}

void ScriptedShell::CloseSubMenu() {
  if (!submenus_.empty()) submenus_.pop_back();
}

void ScriptedShell::SetMenuCheck(int32_t id, bool on) {
  for (MenuItem& item : menu_) {
    if (item.id == id) item.checked = on;
  }
}

void ScriptedShell::ShowPopupMenu() {
  calls_.push_back("ShowPopupMenu");
  ++popups_;
}

bool ScriptedShell::RegisterGlobalHotkey(int32_t modifiers,
                                         int32_t virtual_key) {
  calls_.push_back("RegisterGlobalHotkey");
  hotkey_modifiers_ = modifiers;
  hotkey_key_ = virtual_key;
  hotkey_registered_ = true;
  return true;
}

int32_t ScriptedShell::WaitEvent(uint32_t timeout_ms) {
  ++waits_;
  if (on_wait_) on_wait_(now_);
  if (!events_.empty()) {
    const Event& next = events_.front();
    // Signed so that an event already due counts as due.
    if (static_cast<int32_t>(next.at_ms - now_) <=
        static_cast<int32_t>(timeout_ms)) {
      if (static_cast<int32_t>(next.at_ms - now_) > 0) now_ = next.at_ms;
      event_param_ = next.param;
      event_menu_id_ = next.menu_id;
      event_repeat_ = next.repeat;
      const int32_t code = next.code;
      events_.pop_front();
      return code;
    }
  } else if (static_cast<int32_t>(now_ - end_ms_) >= 0) {
    throw ProcessExit{kScriptEnded};
  }
  now_ += timeout_ms;
  return kEventTimeout;
}

int32_t ScriptedShell::ShowMessage(const std::string& title,
                                   const std::string& text, int32_t style) {
  calls_.push_back("ShowMessage " + title);
  messages_.push_back({title, text, style});
  now_ += modal_ms_;
  if (style != kMessageYesNo) return kAnswerOk;
  if (message_answers_.empty()) return kAnswerNo;
  const int32_t answer = message_answers_.front();
  message_answers_.pop_front();
  return answer;
}

std::optional<std::string> ScriptedShell::TextRequester(
    const std::string& title, const std::string& prompt,
    const std::string& default_text) {
  calls_.push_back("TextRequester " + title);
  requester_calls_.push_back(title + "|" + prompt + "|" + default_text);
  now_ += modal_ms_;
  if (text_answers_.empty()) return std::nullopt;
  std::optional<std::string> answer = text_answers_.front();
  text_answers_.pop_front();
  return answer;
}

std::string ScriptedShell::FolderRequester(const std::string& title,
                                           const std::string& initial_folder) {
  calls_.push_back("FolderRequester " + title);
  requester_calls_.push_back(title + "|" + initial_folder);
  now_ += modal_ms_;
  if (folder_answers_.empty()) return "";
  std::string answer = folder_answers_.front();
  folder_answers_.pop_front();
  return answer;
}

void ScriptedShell::RunElevated(const std::string& file,
                                const std::string& parameters) {
  calls_.push_back("RunElevated " + file);
  elevated_.push_back(parameters.empty() ? file : file + " " + parameters);
}

bool ScriptedShell::ClaimSession() {
  session_claimed_ = !session_taken_;
  return session_claimed_;
}

bool ScriptedShell::LoginStartExists() {
  return login_entry_ == LoginEntry::kOurs;
}

bool ScriptedShell::SetLoginStart(bool on, std::string* error) {
  calls_.push_back(on ? "SetLoginStart on" : "SetLoginStart off");
  if (!login_failure_.empty()) {
    if (error != nullptr) *error = login_failure_;
    return false;
  }
  if (on) {
    login_entry_ = LoginEntry::kOurs;
  } else if (login_entry_ == LoginEntry::kOurs) {
    login_entry_ = LoginEntry::kNone;
  }
  return true;
}

void ScriptedShell::ExitProcess(int exit_code) {
  calls_.push_back("ExitProcess " + std::to_string(exit_code));
  throw ProcessExit{exit_code};
}

}  // namespace veska
