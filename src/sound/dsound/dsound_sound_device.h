// The Windows sound device: one DirectSound secondary buffer per sound,
// mixed and played by DirectSound itself on its own thread.
//
// DSOUND.DLL is loaded by name when the device opens, so a system without it
// gets a device that does not open rather than a program that cannot start.
#ifndef VESKA_SOUND_DSOUND_DSOUND_SOUND_DEVICE_H_
#define VESKA_SOUND_DSOUND_DSOUND_SOUND_DEVICE_H_

#include <cstdint>
#include <memory>

#include "sound/sound_device.h"

namespace veska {

class DsoundSoundDevice : public SoundDevice {
 public:
  DsoundSoundDevice() = default;
  ~DsoundSoundDevice() override;
  DsoundSoundDevice(const DsoundSoundDevice&) = delete;
  DsoundSoundDevice& operator=(const DsoundSoundDevice&) = delete;

  // Loads DSOUND.DLL, creates the default device and sets the priority
  // cooperative level on a hidden owner window; false, and everything undone,
  // when any step fails (no sound server, no device).
  bool Open() override;
  std::unique_ptr<SoundBuffer> CreateBuffer(const WaveFormat& format,
                                            const uint8_t* data,
                                            uint32_t size) override;
  void Close() override;

  bool IsOpen() const { return device_ != nullptr; }
  // The failing call's result of the last Open(), 0 after a success.
  int32_t LastOpenError() const { return last_open_error_; }
  // The hidden owner window (an HWND), null while closed.
  void* Window() const { return window_; }

 private:
  void* library_ = nullptr;  // HMODULE of DSOUND.DLL
  void* window_ = nullptr;   // HWND
  void* device_ = nullptr;   // IDirectSound*
  int32_t last_open_error_ = 0;
};

}  // namespace veska

#endif  // VESKA_SOUND_DSOUND_DSOUND_SOUND_DEVICE_H_
