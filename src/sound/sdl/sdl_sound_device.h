// The Linux sound device: the software mixer, heard through SDL's default
// audio output, which is reopened when the sound server goes away and comes
// back.
#ifndef VESKA_SOUND_SDL_SDL_SOUND_DEVICE_H_
#define VESKA_SOUND_SDL_SDL_SOUND_DEVICE_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "sound/mixer/mixer.h"
#include "sound/sdl/output_keeper.h"
#include "sound/sound_device.h"

namespace veska {

class SdlSoundDevice : public SoundDevice {
 public:
  // Losing and regaining the output is told on `messages`.
  explicit SdlSoundDevice(std::FILE* messages = stderr);
  ~SdlSoundDevice() override;
  SdlSoundDevice(const SdlSoundDevice&) = delete;
  SdlSoundDevice& operator=(const SdlSoundDevice&) = delete;

  // Starts SDL's audio and opens the default output; false when there is no
  // output to open, and the device is then left closed. Once open, an output
  // that goes away is awaited and reopened until Close.
  bool Open() override;
  std::unique_ptr<SoundBuffer> CreateBuffer(const WaveFormat& format,
                                            const uint8_t* data,
                                            uint32_t size) override;
  void Close() override;

  // False while a lost output is awaited.
  bool IsOpen() const { return device_ != 0; }
  SoftwareMixer& Mixer() { return mixer_; }

 private:
  static void Callback(void* self, uint8_t* stream, int bytes);
  bool OpenOutput();
  void CloseOutput();
  OutputKeeper::Output KeptOutput();
  bool ReopenOutput();

  SoftwareMixer mixer_;
  // Written by the keeper's thread while the output is reopened.
  std::atomic<uint32_t> device_ = 0;
  std::string driver_;  // the audio driver the first open settled on
  OutputKeeper keeper_;
};

}  // namespace veska

#endif  // VESKA_SOUND_SDL_SDL_SOUND_DEVICE_H_
