// The owner of the sound device and of every loaded sound.
// It needs only a SoundDevice and the decoders registered with it, and knows
// nothing of the layers above.
#ifndef VESKA_SOUND_SOUND_ENGINE_H_
#define VESKA_SOUND_SOUND_ENGINE_H_

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sound/sound_decoder.h"
#include "sound/sound_device.h"

namespace veska {

// Names a loaded sound. 0 names none; -1 is AllSounds.
using SoundHandle = int32_t;
inline constexpr SoundHandle AllSounds = -1;
// Play's volume that leaves the volume as it is.
inline constexpr int32_t KeepVolume = -1;
// Play's flag bit 0.
inline constexpr uint32_t PlayLoop = 1;

// The handle after `last`: counting up, wrapping past the int32 maximum,
// skipping 0, AllSounds and every handle `in_use` reports. 0 only when every
// other value is in use.
SoundHandle NextFreeHandle(SoundHandle last,
                           const std::function<bool(SoundHandle)>& in_use);

class SoundEngine {
 public:
  // `device` outlives the engine. The two header lines of every load go to
  // `diagnostics`.
  explicit SoundEngine(SoundDevice* device, std::FILE* diagnostics = stdout);
  ~SoundEngine();
  SoundEngine(const SoundEngine&) = delete;
  SoundEngine& operator=(const SoundEngine&) = delete;

  bool Open();
  // Appends `decoder` unless a decoder of its kind is already registered.
  void RegisterDecoder(const SoundDecoder& decoder);
  SoundHandle LoadFile(const std::string& path);
  bool Play(SoundHandle handle, uint32_t flags, int32_t volume);
  void Stop(SoundHandle handle);
  void Release(SoundHandle handle);
  void SetVolume(SoundHandle handle, int32_t volume);
  void SetPan(SoundHandle handle, int32_t pan);
  uint32_t GetFrequency(SoundHandle handle);
  void SetFrequency(SoundHandle handle, uint32_t frequency);
  void Close();

  bool IsOpen() const { return open_; }
  const std::array<int32_t, 101>& AttenuationTable() const {
    return attenuation_table_;
  }

 private:
  struct SoundRecord {
    std::unique_ptr<SoundBuffer> buffer;
    std::string path;  // as LoadFile was given it
  };
  // The file's size and time of last change, which tell a file changed
  // since it was read.
  struct FileStamp {
    uint64_t size = 0;
    int64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
  };
  // A file that sounds still play, so that loading it again (once per core)
  // shares their data instead of reading and decoding it once more.
  struct LoadedFile {
    FileStamp stamp;
    WaveFormat format;
    uint32_t size = 0;
    SoundHandle sound = 0;  // one of the sounds loaded from it
  };

  SoundRecord* Find(SoundHandle handle);
  SoundHandle NextHandle();
  void PrintHeader(const WaveFormat& format, uint32_t size);
  // A new sound sharing the data of a live sound from the unchanged file
  // (0 when no handle is left); nothing when there is no such sound or the
  // device cannot share, and the file must be read.
  std::optional<SoundHandle> LoadShared(const std::string& path,
                                        const FileStamp& stamp);

  SoundDevice* device_;
  std::FILE* diagnostics_;
  bool open_ = false;
  std::array<int32_t, 101> attenuation_table_{};
  std::map<SoundHandle, SoundRecord> sounds_;
  std::map<std::string, LoadedFile> files_;
  std::vector<SoundDecoder> decoders_;
  SoundHandle last_handle_ = 0;
};

}  // namespace veska

#endif  // VESKA_SOUND_SOUND_ENGINE_H_
