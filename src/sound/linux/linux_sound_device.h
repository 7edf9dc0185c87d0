// The Linux sound device: the software mixer, heard through the sound server
// directly where one runs, otherwise through SDL's default audio output;
// either is reopened when it goes away and comes back.
#ifndef VESKA_SOUND_LINUX_LINUX_SOUND_DEVICE_H_
#define VESKA_SOUND_LINUX_LINUX_SOUND_DEVICE_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "sound/linux/output_keeper.h"
#include "sound/linux/pulse_output.h"
#include "sound/mixer/mixer.h"
#include "sound/sound_device.h"

namespace veska {

class LinuxSoundDevice : public SoundDevice {
 public:
  // Losing and regaining the output is told on `messages`.
  explicit LinuxSoundDevice(std::FILE* messages = stderr);
  ~LinuxSoundDevice() override;
  LinuxSoundDevice(const LinuxSoundDevice&) = delete;
  LinuxSoundDevice& operator=(const LinuxSoundDevice&) = delete;

  // Opens the sound server's output, or SDL's default one where no server
  // answers or SDL_AUDIODRIVER names an SDL driver; false when there is no
  // output to open, and the device is then left closed. Once open, an output
  // that goes away is awaited and reopened the same way until Close.
  bool Open() override;
  std::unique_ptr<SoundBuffer> CreateBuffer(const WaveFormat& format,
                                            const uint8_t* data,
                                            uint32_t size) override;
  void Close() override;

  // False while a lost output is awaited.
  bool IsOpen() const { return open_ != Path::kNone; }
  // Whether the output open is the sound server's own.
  bool ThroughServer() const { return open_ == Path::kServer; }
  SoftwareMixer& Mixer() { return mixer_; }

 private:
  enum class Path { kNone, kServer, kSdl };

  static void Callback(void* self, uint8_t* stream, int bytes);
  // Through `only` that way, or the server and then SDL for kNone.
  bool OpenOutput(Path only);
  bool OpenSdl();
  void CloseOutput();
  OutputKeeper::Output KeptOutput();
  bool ReopenOutput();

  SoftwareMixer mixer_;
  PulseOutput server_;
  uint32_t sdl_device_ = 0;
  // Written by the keeper's thread while the output is reopened.
  std::atomic<Path> open_ = Path::kNone;
  // The way the first open settled on: the server, or an SDL driver.
  Path first_path_ = Path::kNone;
  std::string sdl_driver_;
  OutputKeeper keeper_;
};

}  // namespace veska

#endif  // VESKA_SOUND_LINUX_LINUX_SOUND_DEVICE_H_
