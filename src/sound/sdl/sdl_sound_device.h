// The Linux sound device: the software mixer, heard through SDL's default
// audio output.
#ifndef VESKA_SOUND_SDL_SDL_SOUND_DEVICE_H_
#define VESKA_SOUND_SDL_SDL_SOUND_DEVICE_H_

#include <cstdint>
#include <memory>

#include "sound/mixer/mixer.h"
#include "sound/sound_device.h"

namespace veska {

class SdlSoundDevice : public SoundDevice {
 public:
  SdlSoundDevice();
  ~SdlSoundDevice() override;
  SdlSoundDevice(const SdlSoundDevice&) = delete;
  SdlSoundDevice& operator=(const SdlSoundDevice&) = delete;

  // Starts SDL's audio and opens the default output; false when there is no
  // output to open, and the device is then left closed.
  bool Open() override;
  std::unique_ptr<SoundBuffer> CreateBuffer(const WaveFormat& format,
                                            const uint8_t* data,
                                            uint32_t size) override;
  void Close() override;

  bool IsOpen() const { return device_ != 0; }
  SoftwareMixer& Mixer() { return mixer_; }

 private:
  static void Callback(void* self, uint8_t* stream, int bytes);

  SoftwareMixer mixer_;
  uint32_t device_ = 0;
};

}  // namespace veska

#endif  // VESKA_SOUND_SDL_SDL_SOUND_DEVICE_H_
