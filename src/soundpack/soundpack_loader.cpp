#include "soundpack/soundpack_loader.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#include "soundpack/resource_elements.h"
#include "soundpack/soundpack_selection.h"

namespace veska {
namespace {

// Names the loader builds element paths from; only these decide the
// extension, so that a stray "readme.txt" cannot silence a pack.
constexpr std::array<std::string_view, 9> kElementFileNames = {
    "cpu",   "cpu_a", "cpu_b",  "ram",   "ram_a",
    "ram_b", "Disk",  "Disk_a", "Disk_b"};

std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string extension = name.substr(dot + 1);
  if (extension.find_first_of(" /\\") != std::string::npos) return "";
  return extension;
}

// "net", "net_a" or "net_b" for the element named "net".
bool IsFileOf(std::string_view stem, std::string_view element) {
  if (stem == element) return true;
  return stem.size() == element.size() + 2 && stem.starts_with(element) &&
         (stem.ends_with("_a") || stem.ends_with("_b"));
}

std::string_view StemOf(const std::string& name, const std::string& extension) {
  return std::string_view(name.data(), name.size() - extension.size() - 1);
}

// The optional elements' files take no part: a stray "temp.txt" beside a
// pack made before they existed must not change its extension.
bool IsElementFile(const std::string& name) {
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return false;
  return std::find(kElementFileNames.begin(), kElementFileNames.end(),
                   StemOf(name, extension)) != kElementFileNames.end();
}

bool IsResourceElementFile(const std::string& name) {
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return false;
  return std::any_of(kResourceElements.begin(), kResourceElements.end(),
                     [&](const ResourceElement& row) {
                       return IsFileOf(StemOf(name, extension), row.name);
                     });
}

// An optional element is there when a file of it has the pack's extension;
// which of them the mode loads is the mode's business, as for the disk.
bool HasFilesOf(const std::vector<std::string>& files,
                const std::string& extension, std::string_view element) {
  return std::any_of(files.begin(), files.end(), [&](const std::string& file) {
    return file.size() > extension.size() && file.ends_with(extension) &&
           IsFileOf(
               std::string_view(file).substr(0, file.size() - extension.size()),
               element);
  });
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

void LoadInto(SoundpackState& state, SoundEngine& engine,
              const std::string& folder, const ElementFile& element,
              std::vector<SoundHandle>* loaded) {
  const SoundHandle handle =
      engine.LoadFile(folder + element.file + state.SoundExtension);
  state.SoundTable.FindOrAdd(element.key) = handle;
  loaded->push_back(handle);
}

// One or two files by the mode, with an optional key suffix.
void AddResource(std::vector<ElementFile>* files, int32_t mode,
                 const std::string& file, const std::string& key,
                 const std::string& suffix = "", int core = -1) {
  if (mode >= 2) {
    files->push_back({file + "_a", key + "a" + suffix, core});
    files->push_back({file + "_b", key + "b" + suffix, core});
  } else {
    files->push_back({file, key + suffix, core});
  }
}

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

bool ReadSoundpackPrefs(SoundpackState& state, PreferencesStore& prefs,
                        const std::string& folder) {
  state.SoundpackPrefs = prefs.OpenPreferences(folder + "/prefs.ini");
  if (state.SoundpackPrefs == 0) return false;
  prefs.SelectGroup("soundpack");
  state.UseAverages = prefs.ReadInteger("UseAverages", 1);
  state.CPUSoundMode = prefs.ReadInteger("CPUSoundMode", 1);
  state.RAMSoundMode = prefs.ReadInteger("RAMSoundMode", 1);
  state.SlideInterval = prefs.ReadInteger("SlideInterval", 100);
  state.FrequencyFluctuation = prefs.ReadInteger("FrequencyFluctuation", 0);
  state.DiskSoundMode = prefs.ReadInteger("DiskSoundMode", 1);
  for (const ResourceElement& row : kResourceElements) {
    state.Resources[IndexOf(row.resource)].SoundMode =
        prefs.ReadInteger(row.mode_key, 0);
  }
  prefs.ClosePreferences();
  return true;
}

bool LoadSoundpackIfValid(SoundpackState& state, const MonitorState& monitor,
                          const SoundpackServices& services,
                          const std::string& folder) {
  if (!ReadSoundpackPrefs(state, services.prefs, folder)) return false;

  const std::vector<std::string> files = ListFiles(folder);
  state.SoundExtension = ChooseSoundExtension(files, state.SoundExtension);
  if (std::any_of(files.begin(), files.end(), NamesDisk)) {
    state.HasDiskSounds = 1;
  }
  for (const ResourceElement& row : kResourceElements) {
    state.Resources[IndexOf(row.resource)].HasSounds =
        HasFilesOf(files, state.SoundExtension, row.name) ? 1 : 0;
  }

  // Each core's sounds are detuned together, before the next core's load.
  std::vector<SoundHandle> core_sounds;
  int core = -1;
  const bool detune = state.UseAverages == 0 && state.FrequencyFluctuation == 1;
  for (const ElementFile& element :
       ElementFiles(state, monitor.LastCoreIndex + 1)) {
    if (element.core != core) {
      if (detune && core >= 0) Detune(state, services.sound, core_sounds);
      core_sounds.clear();
      core = element.core;
    }
    LoadInto(state, services.sound, folder, element, &core_sounds);
  }
  if (detune && core >= 0) Detune(state, services.sound, core_sounds);
  return true;
}

std::vector<ElementFile> ElementFiles(const SoundpackState& state,
                                      int core_count) {
  std::vector<ElementFile> files;
  if (state.UseAverages != 0) {
    AddResource(&files, state.CPUSoundMode, "/cpu", "cpu");
  } else {
    for (int n = 0; n < core_count; ++n) {
      AddResource(&files, state.CPUSoundMode, "/cpu", "cpu", std::to_string(n),
                  n);
    }
  }
  AddResource(&files, state.RAMSoundMode, "/ram", "ram");
  if (state.HasDiskSounds == 1) {
    AddResource(&files, state.DiskSoundMode, "/Disk", "Disk");
  }
  for (const ResourceElement& row : kResourceElements) {
    const ResourceElementState& element =
        state.Resources[IndexOf(row.resource)];
    if (element.HasSounds == 1) {
      AddResource(&files, element.SoundMode, std::string("/") + row.name,
                  row.name);
    }
  }
  return files;
}

std::string SoundFileExtension(const std::string& name) {
  return ExtensionOf(name);
}
bool IsElementFileName(const std::string& name) {
  return IsElementFile(name) || IsResourceElementFile(name);
}
bool NamesDiskSounds(const std::string& name) { return NamesDisk(name); }
std::vector<std::string> ListSoundpackFiles(const std::string& folder) {
  return ListFiles(folder);
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
