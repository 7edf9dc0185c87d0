#include "recording_sound_device.h"

namespace veska::testing {
namespace {

class RecordingBuffer : public SoundBuffer {
 public:
  explicit RecordingBuffer(std::shared_ptr<RecordedBuffer> record)
      : record_(std::move(record)) {}
  ~RecordingBuffer() override {
    record_->released = true;
    record_->playing = false;
    record_->calls.push_back("Release");
  }

  bool Play(bool loop) override {
    record_->playing = true;
    record_->looping = loop;
    ++record_->play_count;
    record_->calls.push_back(std::string("Play ") + (loop ? "1" : "0"));
    return true;
  }
  bool Stop() override {
    record_->playing = false;
    ++record_->stop_count;
    record_->calls.push_back("Stop");
    return true;
  }
  bool SetCurrentPosition(uint32_t byte_offset) override {
    record_->position = byte_offset;
    record_->calls.push_back("SetCurrentPosition " +
                             std::to_string(byte_offset));
    return true;
  }
  bool SetVolume(int32_t volume) override {
    record_->volume = volume;
    record_->calls.push_back("SetVolume " + std::to_string(volume));
    return true;
  }
  bool SetPan(int32_t pan) override {
    record_->pan = pan;
    record_->calls.push_back("SetPan " + std::to_string(pan));
    return true;
  }
  bool SetFrequency(uint32_t hz) override {
    record_->calls.push_back("SetFrequency " + std::to_string(hz));
    if (hz < kMinFrequency || hz > kMaxFrequency) return false;
    record_->frequency = hz;
    return true;
  }
  bool GetFrequency(uint32_t* hz) override {
    *hz = record_->frequency;
    return true;
  }

 private:
  std::shared_ptr<RecordedBuffer> record_;
};

}  // namespace

std::unique_ptr<SoundBuffer> RecordingSoundDevice::CreateBuffer(
    const WaveFormat& format, const uint8_t* /*data*/, uint32_t size) {
  if (!opened || !open_result || size == 0) return nullptr;
  if (refuse_non_pcm && format.format_tag != kWaveFormatPcm) return nullptr;
  auto record = std::make_shared<RecordedBuffer>();
  record->format = format;
  record->size = size;
  record->frequency = format.samples_per_sec;
  buffers.push_back(record);
  return std::make_unique<RecordingBuffer>(record);
}

std::vector<std::shared_ptr<RecordedBuffer>> RecordingSoundDevice::Live()
    const {
  std::vector<std::shared_ptr<RecordedBuffer>> live;
  for (const auto& buffer : buffers) {
    if (!buffer->released) live.push_back(buffer);
  }
  return live;
}

}  // namespace veska::testing
