// A sound device that plays nothing and remembers every call, for tests of
// what the program asks of the device.
#ifndef VESKA_TESTS_SUPPORT_RECORDING_SOUND_DEVICE_H_
#define VESKA_TESTS_SUPPORT_RECORDING_SOUND_DEVICE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sound/sound_device.h"

namespace veska::testing {

// What one buffer went through; outlives the buffer.
struct RecordedBuffer {
  WaveFormat format;
  uint32_t size = 0;
  bool playing = false;
  bool looping = false;
  bool released = false;
  uint32_t position = 0;
  int32_t volume = 0;
  int32_t pan = 0;
  uint32_t frequency = 0;
  int play_count = 0;
  int stop_count = 0;
  std::vector<std::string> calls;  // "Play 1", "Stop", "SetVolume -603", ...
};

class RecordingSoundDevice : public SoundDevice {
 public:
  bool open_result = true;
  // Formats whose tag is not PCM are refused, as a plain device would.
  bool refuse_non_pcm = false;
  bool opened = false;
  bool closed = false;
  std::vector<std::shared_ptr<RecordedBuffer>> buffers;

  bool Open() override {
    opened = true;
    return open_result;
  }
  std::unique_ptr<SoundBuffer> CreateBuffer(const WaveFormat& format,
                                            const uint8_t* data,
                                            uint32_t size) override;
  void Close() override { closed = true; }

  // Buffers not yet released.
  std::vector<std::shared_ptr<RecordedBuffer>> Live() const;
  // The latest buffer created, or null.
  std::shared_ptr<RecordedBuffer> Last() const {
    return buffers.empty() ? nullptr : buffers.back();
  }
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_SUPPORT_RECORDING_SOUND_DEVICE_H_
