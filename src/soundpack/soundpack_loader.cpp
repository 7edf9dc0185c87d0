#include "soundpack/soundpack_loader.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#include "soundpack/soundpack_selection.h"

namespace veska {
namespace {

// Names the loader builds element paths from; only these decide the
// extension, so that a stray "readme.txt" cannot silence a pack.
constexpr std::array<std::string_view, 9> kElementFileNames = {
    "cpu",   "cpu_a", "cpu_b",  "ram",   "ram_a",
    "ram_b", "Disk",  "Disk_a", "Disk_b"};

// Text after the last "."; empty without one, for a leading "." only, or
// when what follows could not be an extension.
std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string extension = name.substr(dot + 1);
  if (extension.find_first_of(" /\\") != std::string::npos) return "";
  return extension;
}

bool IsElementFile(const std::string& name) {
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return false;
  const std::string_view stem(name.data(), name.size() - extension.size() - 1);
  return std::find(kElementFileNames.begin(), kElementFileNames.end(), stem) !=
         kElementFileNames.end();
}

bool NamesDisk(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return name.find("disk") != std::string::npos;
}

// Text is UTF-8 inside the program, whatever the platform's narrow encoding.
std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The names of the files in `folder`, sorted; sub-folders are left out.
std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(PathFromUtf8(folder), error);
  for (; !error && it != std::filesystem::directory_iterator();
       it.increment(error)) {
    std::error_code kind_error;
    if (it->is_directory(kind_error)) continue;
    names.push_back(Utf8FromPath(it->path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ElementLoader {
 public:
  ElementLoader(SoundpackState& state, SoundEngine& engine,
                const std::string& folder)
      : state_(state), engine_(engine), folder_(folder) {}

  SoundHandle Load(const std::string& file, const std::string& key) {
    const SoundHandle handle =
        engine_.LoadFile(folder_ + file + state_.SoundExtension);
    state_.SoundTable.FindOrAdd(key) = handle;
    return handle;
  }

  // One or two sounds by the mode, with an optional key suffix.
  std::vector<SoundHandle> LoadResource(int32_t mode, const std::string& file,
                                        const std::string& key,
                                        const std::string& suffix = "") {
    if (mode >= 2) {
      return {Load(file + "_a", key + "a" + suffix),
              Load(file + "_b", key + "b" + suffix)};
    }
    return {Load(file, key + suffix)};
  }

 private:
  SoundpackState& state_;
  SoundEngine& engine_;
  const std::string& folder_;
};

void Detune(SoundpackState& state, SoundEngine& engine,
            const std::vector<SoundHandle>& handles) {
  std::uniform_int_distribution<int32_t> draw(0, 2000);
  state.FrequencyOffset = draw(state.Random) - 1000;
  for (const SoundHandle handle : handles) {
    const int64_t frequency =
        static_cast<int64_t>(engine.GetFrequency(handle)) +
        state.FrequencyOffset;
    engine.SetFrequency(handle, static_cast<uint32_t>(frequency));
  }
}

}  // namespace

std::string ChooseSoundExtension(std::vector<std::string> file_names,
                                 const std::string& previous) {
  std::sort(file_names.begin(), file_names.end());
  std::string chosen = previous;
  bool from_element = false;
  for (const std::string& name : file_names) {
    if (!IsElementFile(name)) continue;
    const std::string extension = "." + ExtensionOf(name);
    if (extension == ".ini") continue;
    chosen = extension;
    from_element = true;
  }
  if (from_element) return chosen;
  for (const std::string& name : file_names) {
    const std::string extension = "." + ExtensionOf(name);
    if (extension != ".ini") chosen = extension;
  }
  return chosen;
}

bool LoadSoundpackIfValid(SoundpackState& state, const MonitorState& monitor,
                          const SoundpackServices& services,
                          const std::string& folder) {
  PreferencesStore& prefs = services.prefs;
  state.SoundpackPrefs = prefs.OpenPreferences(folder + "/prefs.ini");
  if (state.SoundpackPrefs == 0) return false;
  prefs.SelectGroup("soundpack");
  state.UseAverages = prefs.ReadInteger("UseAverages", 1);
  state.CPUSoundMode = prefs.ReadInteger("CPUSoundMode", 1);
  state.RAMSoundMode = prefs.ReadInteger("RAMSoundMode", 1);
  state.SlideInterval = prefs.ReadInteger("SlideInterval", 100);
  state.FrequencyFluctuation = prefs.ReadInteger("FrequencyFluctuation", 0);
  state.DiskSoundMode = prefs.ReadInteger("DiskSoundMode", 1);
  prefs.ClosePreferences();

  const std::vector<std::string> files = ListFiles(folder);
  state.SoundExtension = ChooseSoundExtension(files, state.SoundExtension);
  if (std::any_of(files.begin(), files.end(), NamesDisk)) {
    state.HasDiskSounds = 1;
  }

  ElementLoader loader(state, services.sound, folder);
  if (state.UseAverages != 0) {
    loader.LoadResource(state.CPUSoundMode, "/cpu", "cpu");
  } else {
    for (int n = 0; n <= monitor.LastCoreIndex; ++n) {
      const std::vector<SoundHandle> handles = loader.LoadResource(
          state.CPUSoundMode, "/cpu", "cpu", std::to_string(n));
      if (state.FrequencyFluctuation == 1) {
        Detune(state, services.sound, handles);
      }
    }
  }
  loader.LoadResource(state.RAMSoundMode, "/ram", "ram");
  if (state.HasDiskSounds == 1) {
    loader.LoadResource(state.DiskSoundMode, "/Disk", "Disk");
  }
  return true;
}

SoundpackChoice LoadSoundpack(SoundpackState& state,
                              const MonitorState& monitor,
                              const SoundpackServices& services,
                              std::string& path) {
  if (LoadSoundpackIfValid(state, monitor, services, path)) {
    return SoundpackChoice::kChosen;
  }
  ShowInvalidSoundpackMessage(services.shell);
  return SelectSoundpack(state, monitor, services, path);
}

}  // namespace veska
