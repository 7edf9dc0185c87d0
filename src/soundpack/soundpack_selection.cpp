#include "soundpack/soundpack_selection.h"

#include <filesystem>
#include <system_error>

#include "app/runtime.h"
#include "shell/shell_services.h"
#include "soundpack/soundpack_loader.h"

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

void ShowInvalidSoundpackMessage(AppState& state) {
  state.services.shell->ShowMessage(
      "Error", "Not a valid soundpack. Please choose a valid soundpack folder.",
      kMessageOk);
}

void SelectSoundpack(AppState& state) {
  ShellServices& shell = *state.services.shell;
  const std::string start_folder = SoundpackStartFolder(CurrentFolder());
  // A loop rather than a call back through LoadSoundpack, so that a user who
  // keeps choosing wrong folders cannot exhaust the stack.
  while (true) {
    state.Path = shell.FolderRequester("Select a soundpack", start_folder);
    if (state.Path.empty()) {
      shell.ShowMessage("No soundpack selected",
                        "You didn't select a soundpack. Exiting program.",
                        kMessageOk);
      RuntimeShutdown(state);
    }
    if (LoadSoundpackIfValid(state, state.Path)) return;
    ShowInvalidSoundpackMessage(state);
  }
}

}  // namespace veska
