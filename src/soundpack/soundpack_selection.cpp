#include "soundpack/soundpack_selection.h"

#include <filesystem>
#include <system_error>

namespace veska {
namespace {

std::string CurrentFolder() {
  std::error_code error;
  const std::u8string text = std::filesystem::current_path(error).u8string();
  if (error) return "";
  return std::string(text.begin(), text.end());
}

}  // namespace

std::string SoundpackStartFolder(const std::string& current) {
  const char separator =
      static_cast<char>(std::filesystem::path::preferred_separator);
  if (current.empty()) return "packs";
  std::string folder = current;
  if (folder.back() != '/' && folder.back() != separator) {
    folder += separator;
  }
  return folder + "packs";
}

void ShowInvalidSoundpackMessage(ShellServices& shell) {
  shell.ShowMessage(
      "Error", "Not a valid soundpack. Please choose a valid soundpack folder.",
      kMessageOk);
}

SoundpackChoice SelectSoundpack(SoundpackState& state,
                                const MonitorState& monitor,
                                const SoundpackServices& services,
                                std::string& path) {
  ShellServices& shell = services.shell;
  const std::string start_folder = SoundpackStartFolder(CurrentFolder());
  // A loop rather than a call back through LoadSoundpack, so that a user who
  // keeps choosing wrong folders cannot exhaust the stack.
  while (true) {
    path = shell.FolderRequester("Select a soundpack", start_folder);
    if (path.empty()) return SoundpackChoice::kCancelled;
    if (LoadSoundpackIfValid(state, monitor, services, path)) {
      return SoundpackChoice::kChosen;
    }
    ShowInvalidSoundpackMessage(shell);
  }
}

}  // namespace veska
