// A soundpack test's world: a temporary folder to build packs in, the real
// sound engine over a recording device, the real preferences store and a
// scripted shell, beside a fresh soundpack state and load-monitoring state.
#ifndef VESKA_TESTS_SOUNDPACK_SOUNDPACK_RIG_H_
#define VESKA_TESTS_SOUNDPACK_SOUNDPACK_RIG_H_

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "monitor/monitor_state.h"
#include "prefs/preferences_store.h"
#include "recording_sound_device.h"
#include "shell/script/scripted_shell.h"
#include "sound/sound_engine.h"
#include "soundpack/soundpack_loader.h"
#include "soundpack/soundpack_selection.h"
#include "soundpack/soundpack_state.h"
#include "temp_folder.h"

namespace veska::testing {

// 16-bit PCM mono, a ramp so that no two frames are alike.
void WriteWav(const std::filesystem::path& file, uint32_t rate,
              uint32_t frames = 64);

struct SoundpackRig {
  explicit SoundpackRig(int cores = 4);
  ~SoundpackRig();

  // A sub-folder of the temporary folder, made if missing, as text ending in
  // a separator, the way the folder requester answers.
  std::string Folder(const std::string& name) const;
  // Loads `file` under `key` as the loader would, and keeps its buffer.
  void LoadAs(const std::string& key, const std::filesystem::path& file);
  RecordedBuffer& Buffer(const std::string& key) { return *buffers[key]; }
  // The device's units for an engine volume 0..100 and pan -100..100.
  int32_t DeviceVolume(int32_t volume) const {
    return engine.AttenuationTable()[volume] - 10000;
  }
  int32_t DevicePan(int32_t pan) const;
  SoundHandle Handle(const std::string& key) {
    return state.SoundTable.FindOrAdd(key);
  }
  // Loads `folder` as start-up loads the stored one; a folder chosen instead
  // lands in `path`.
  SoundpackChoice Load(const std::string& folder) {
    path = folder;
    return LoadSoundpack(state, monitor, services, path);
  }
  SoundpackChoice Select() {
    return SelectSoundpack(state, monitor, services, path);
  }

  TempFolder temp_folder;
  std::filesystem::path temp = temp_folder.path();
  std::FILE* diagnostics;
  RecordingSoundDevice device;
  SoundEngine engine;
  PreferencesStore prefs;
  ScriptedShell shell;
  SoundpackServices services{engine, prefs, shell};
  MonitorState monitor;
  SoundpackState state;
  std::string path;
  std::map<std::string, std::shared_ptr<RecordedBuffer>> buffers;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_SOUNDPACK_SOUNDPACK_RIG_H_
