// A soundpack test's world: a temporary folder to build packs in, the real
// sound engine over a recording device, the real preferences store and a
// scripted shell, wired into a fresh AppState.
#ifndef VESKA_TESTS_SOUNDPACK_SOUNDPACK_RIG_H_
#define VESKA_TESTS_SOUNDPACK_SOUNDPACK_RIG_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "prefs/preferences_store.h"
#include "recording_sound_device.h"
#include "shell/script/scripted_shell.h"
#include "sound/sound_engine.h"

namespace veska::testing {

// Removed with everything in it when the test ends.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // A sub-folder, made if missing, as text ending in a separator, the way
  // the folder requester answers.
  std::string Folder(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// 16-bit PCM, a ramp so that no two frames are alike.
void WriteWav(const std::filesystem::path& file, uint32_t sample_rate,
              uint32_t frames, uint16_t channels = 1);
void WriteText(const std::filesystem::path& file, const std::string& text);

struct SoundpackRig {
  explicit SoundpackRig(int cores = 4);
  ~SoundpackRig();

  // The device buffer behind a handle: the engine makes exactly one buffer
  // per successful load, so loads are matched to buffers in order.
  std::shared_ptr<RecordedBuffer> BufferOf(SoundHandle handle);
  // Loads `file` under `key` as the loader would, and remembers its buffer.
  SoundHandle LoadAs(const std::string& key, const std::filesystem::path& file);
  std::shared_ptr<RecordedBuffer> Buffer(const std::string& key) {
    return BufferOf(state.SoundTable.FindOrAdd(key));
  }
  // The device's volume for an engine volume of 0..100.
  int32_t DeviceVolume(int32_t volume) const {
    return engine.AttenuationTable()[volume] - 10000;
  }
  // The device's pan for an engine pan of -100..100.
  int32_t DevicePan(int32_t pan) const;

  std::FILE* diagnostics;
  RecordingSoundDevice device;
  SoundEngine engine;
  PreferencesStore prefs;
  ScriptedShell shell;
  AppState state;
  TempFolder temp;
  std::map<SoundHandle, std::shared_ptr<RecordedBuffer>> buffers_by_handle;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_SOUNDPACK_SOUNDPACK_RIG_H_
