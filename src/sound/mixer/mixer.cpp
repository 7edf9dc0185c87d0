#include "sound/mixer/mixer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <mutex>
#include <new>
#include <vector>

#include "sound/mixer/mix_run.h"
#include "sound/mixer/sample_layout.h"

namespace veska {
namespace mixer_internal {
namespace {

// Render works in slices so that the list lock is never held for long and
// the silent-voice skip below cannot overflow a position.
constexpr uint32_t kSliceFrames = 512;
// Long enough that a volume step does not click, short enough to follow the
// program's sound-update steps.
constexpr uint32_t kRampMs = 5;
// Positions are 32.32 fixed point; a frame count below 2^31 keeps every
// position plus a step inside 64 bits.
constexpr uint32_t kMaxFrames = 1u << 31;
// Float sources are trusted up to this; beyond it they are damaged data.
constexpr float kFloatSampleLimit = 64.0f;

}  // namespace

struct Voice;
using MixFunction = void (*)(Voice& voice, float* out, uint32_t frames,
                             uint64_t step, uint32_t ramp_frames);

// The sound data of a buffer, shared by every duplicate of it and never
// changed once made.
struct Pcm {
  std::vector<uint8_t> bytes;
  SampleLayout layout;
  uint64_t frames = 0;
  uint32_t rate = 0;
  MixFunction mix = nullptr;
};

struct Voice {
  // Fixed at creation.
  std::shared_ptr<const Pcm> pcm;
  const uint8_t* data = nullptr;  // pcm->bytes
  uint64_t frames = 0;            // pcm->frames

  // Written by the program thread, read by the audio thread per slice.
  std::atomic<uint32_t> frequency{0};
  std::atomic<uint64_t> target_gains{0};  // left and right float, packed

  // Guarded by MixerCore::mutex.
  bool playing = false;
  bool looping = false;
  bool snap_gains = true;  // a fresh start takes its gains without a ramp
  uint64_t position = 0;   // frames, 32.32 fixed point
  uint64_t applied_gains = 0;
  float gain_left = 0.0f;
  float gain_right = 0.0f;
  float target_left = 0.0f;
  float target_right = 0.0f;
  float delta_left = 0.0f;
  float delta_right = 0.0f;
  uint32_t ramp_left = 0;
};

class MixerCore {
 public:
  explicit MixerCore(uint32_t rate) : output_rate(rate) {}

  std::mutex mutex;
  std::vector<Voice*> voices;  // guarded by mutex
  uint32_t output_rate;        // guarded by mutex
  std::atomic<uint64_t> rendered{0};
};

namespace {

uint64_t PackGains(float left, float right) {
  return uint64_t(std::bit_cast<uint32_t>(left)) |
         (uint64_t(std::bit_cast<uint32_t>(right)) << 32);
}

void UnpackGains(uint64_t packed, float* left, float* right) {
  *left = std::bit_cast<float>(uint32_t(packed));
  *right = std::bit_cast<float>(uint32_t(packed >> 32));
}

float DecibelGain(int32_t hundredths) {
  if (hundredths <= kVolumeSilent) return 0.0f;
  return float(std::pow(10.0, hundredths / 2000.0));
}

// One frame near the buffer's edges: a looping voice reads across the loop
// point, a one-shot voice reads silence outside the buffer.
template <SampleEncoding E, int C>
void MixEdgeFrame(const Voice& voice, float* out) {
  constexpr int kSample = BytesOf(E);
  constexpr int kFrame = kSample * C;
  const int64_t n = int64_t(voice.frames);
  const int64_t index = int64_t(voice.position >> 32);
  const float t = Fraction(voice.position);
  auto at = [&](int64_t i, int channel) -> float {
    if (i < 0 || i >= n) {
      if (!voice.looping) return 0.0f;
      i = ((i % n) + n) % n;
    }
    return ReadSample<E>(voice.data + i * kFrame + channel * kSample);
  };
  const float left = Cubic(at(index - 1, 0), at(index, 0), at(index + 1, 0),
                           at(index + 2, 0), t);
  float right = left;
  if constexpr (C == 2) {
    right = Cubic(at(index - 1, 1), at(index, 1), at(index + 1, 1),
                  at(index + 2, 1), t);
  }
  out[0] += left * voice.gain_left;
  out[1] += right * voice.gain_right;
}

void TakeGains(Voice& voice, uint32_t ramp_frames) {
  const uint64_t packed = voice.target_gains.load(std::memory_order_relaxed);
  if (voice.snap_gains) {
    voice.snap_gains = false;
    voice.applied_gains = packed;
    UnpackGains(packed, &voice.target_left, &voice.target_right);
    voice.gain_left = voice.target_left;
    voice.gain_right = voice.target_right;
    voice.ramp_left = 0;
  } else if (packed != voice.applied_gains) {
    voice.applied_gains = packed;
    UnpackGains(packed, &voice.target_left, &voice.target_right);
    voice.ramp_left = ramp_frames;
    voice.delta_left = (voice.target_left - voice.gain_left) / ramp_frames;
    voice.delta_right = (voice.target_right - voice.gain_right) / ramp_frames;
  }
  if (voice.ramp_left == 0) voice.delta_left = voice.delta_right = 0.0f;
}

template <SampleEncoding E, int C, MixRunFunction kRun>
void MixVoice(Voice& voice, float* out, uint32_t frames, uint64_t step,
              uint32_t ramp_frames) {
  TakeGains(voice, ramp_frames);
  const uint64_t end = voice.frames << 32;
  // Inside [fast_begin, fast_end) the four points need no edge handling.
  const uint64_t fast_begin = uint64_t(1) << 32;
  const uint64_t fast_end = voice.frames >= 4 ? (voice.frames - 2) << 32 : 0;

  uint32_t done = 0;
  while (done < frames) {
    if (voice.position >= end) {
      if (!voice.looping) {
        // A one-shot voice ends rewound, so the next Play starts it again.
        voice.playing = false;
        voice.position = 0;
        return;
      }
      voice.position %= end;
    }
    uint32_t count = frames - done;
    if (voice.ramp_left != 0) count = std::min(count, voice.ramp_left);
    float* slice = out + 2 * size_t(done);

    if (voice.ramp_left == 0 && voice.gain_left == 0.0f &&
        voice.gain_right == 0.0f) {
      // Silent: only the position moves.
      voice.position += step * count;
    } else if (voice.position >= fast_begin && voice.position < fast_end) {
      const uint64_t fits = (fast_end - 1 - voice.position) / step + 1;
      count = uint32_t(std::min<uint64_t>(count, fits));
      voice.position =
          kRun(voice.data, voice.position, step, count, slice, &voice.gain_left,
               &voice.gain_right, voice.delta_left, voice.delta_right);
    } else {
      count = 1;
      MixEdgeFrame<E, C>(voice, slice);
      voice.gain_left += voice.delta_left;
      voice.gain_right += voice.delta_right;
      voice.position += step;
    }

    done += count;
    if (voice.ramp_left != 0) {
      voice.ramp_left -= count;
      if (voice.ramp_left == 0) {
        voice.gain_left = voice.target_left;
        voice.gain_right = voice.target_right;
        voice.delta_left = voice.delta_right = 0.0f;
      }
    }
  }
}

template <SampleEncoding E>
MixFunction ForChannels(uint16_t channels) {
#if VESKA_MIX_WIDE
  if (HasWideVectors()) {
    return channels == 2 ? &MixVoice<E, 2, &MixRunWide<E, 2>>
                         : &MixVoice<E, 1, &MixRunWide<E, 1>>;
  }
#endif
  return channels == 2 ? &MixVoice<E, 2, &MixRun<E, 2>>
                       : &MixVoice<E, 1, &MixRun<E, 1>>;
}

MixFunction MixFunctionFor(const SampleLayout& layout) {
  switch (layout.encoding) {
    case SampleEncoding::kUnsigned8:
      return ForChannels<SampleEncoding::kUnsigned8>(layout.channels);
    case SampleEncoding::kSigned16:
      return ForChannels<SampleEncoding::kSigned16>(layout.channels);
    case SampleEncoding::kSigned24:
      return ForChannels<SampleEncoding::kSigned24>(layout.channels);
    case SampleEncoding::kSigned32:
      return ForChannels<SampleEncoding::kSigned32>(layout.channels);
    case SampleEncoding::kFloat32:
      return ForChannels<SampleEncoding::kFloat32>(layout.channels);
  }
  return nullptr;
}

// Non-finite or absurd float samples would poison the whole mix.
void SanitizeFloats(std::vector<uint8_t>* data) {
  for (size_t i = 0; i + 4 <= data->size(); i += 4) {
    uint8_t* p = data->data() + i;
    float v = std::bit_cast<float>(LoadLe32(p));
    if (!std::isfinite(v)) v = 0.0f;
    v = std::clamp(v, -kFloatSampleLimit, kFloatSampleLimit);
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    p[0] = uint8_t(bits);
    p[1] = uint8_t(bits >> 8);
    p[2] = uint8_t(bits >> 16);
    p[3] = uint8_t(bits >> 24);
  }
}

std::unique_ptr<SoundBuffer> MakeBuffer(const std::shared_ptr<MixerCore>& core,
                                        std::shared_ptr<const Pcm> pcm);

class MixerBuffer : public SoundBuffer {
 public:
  MixerBuffer(std::shared_ptr<MixerCore> core, std::unique_ptr<Voice> voice)
      : core_(std::move(core)), voice_(std::move(voice)) {}

  // Once the voice is off the list under the lock, the audio thread cannot
  // be reading it, so the memory can go.
  ~MixerBuffer() override {
    std::lock_guard lock(core_->mutex);
    auto& voices = core_->voices;
    voices.erase(std::remove(voices.begin(), voices.end(), voice_.get()),
                 voices.end());
  }

  bool Play(bool loop) override {
    std::lock_guard lock(core_->mutex);
    voice_->looping = loop;
    if (!voice_->playing) {
      voice_->playing = true;
      voice_->snap_gains = true;
    }
    return true;
  }

  bool Stop() override {
    std::lock_guard lock(core_->mutex);
    voice_->playing = false;
    return true;
  }

  bool SetCurrentPosition(uint32_t byte_offset) override {
    const uint64_t frame = byte_offset / voice_->pcm->layout.bytes_per_frame;
    if (frame >= voice_->frames) return false;
    std::lock_guard lock(core_->mutex);
    voice_->position = frame << 32;
    return true;
  }

  bool SetVolume(int32_t volume) override {
    if (volume < kVolumeSilent || volume > kVolumeFull) return false;
    volume_ = volume;
    PublishGains();
    return true;
  }

  bool SetPan(int32_t pan) override {
    if (pan < kPanLeft || pan > kPanRight) return false;
    pan_ = pan;
    PublishGains();
    return true;
  }

  bool SetFrequency(uint32_t hz) override {
    if (hz < kMinFrequency || hz > kMaxFrequency) return false;
    voice_->frequency.store(hz, std::memory_order_relaxed);
    return true;
  }

  bool GetFrequency(uint32_t* hz) override {
    if (hz == nullptr) return false;
    *hz = voice_->frequency.load(std::memory_order_relaxed);
    return true;
  }

  std::unique_ptr<SoundBuffer> Duplicate() override {
    try {
      return MakeBuffer(core_, voice_->pcm);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

 private:
  void PublishGains() {
    const float gain = DecibelGain(volume_);
    const float left = pan_ > 0 ? gain * DecibelGain(-pan_) : gain;
    const float right = pan_ < 0 ? gain * DecibelGain(pan_) : gain;
    voice_->target_gains.store(PackGains(left, right),
                               std::memory_order_relaxed);
  }

  std::shared_ptr<MixerCore> core_;
  std::unique_ptr<Voice> voice_;
  int32_t volume_ = kVolumeFull;
  int32_t pan_ = 0;
};

// A stopped voice at the start of `pcm`, at full volume, centre pan and the
// data's own rate, on the core's list.
std::unique_ptr<SoundBuffer> MakeBuffer(const std::shared_ptr<MixerCore>& core,
                                        std::shared_ptr<const Pcm> pcm) {
  auto voice = std::make_unique<Voice>();
  voice->data = pcm->bytes.data();
  voice->frames = pcm->frames;
  voice->frequency.store(pcm->rate);
  voice->target_gains.store(PackGains(1.0f, 1.0f));
  voice->pcm = std::move(pcm);
  Voice* raw = voice.get();
  auto buffer = std::make_unique<MixerBuffer>(core, std::move(voice));
  std::lock_guard lock(core->mutex);
  core->voices.push_back(raw);
  return buffer;
}

bool ValidOutputRate(uint32_t hz) {
  return hz >= SoftwareMixer::kMinOutputRate &&
         hz <= SoftwareMixer::kMaxOutputRate;
}

}  // namespace
}  // namespace mixer_internal

using mixer_internal::MixerCore;
using mixer_internal::Voice;

SoftwareMixer::SoftwareMixer(uint32_t output_rate)
    : core_(std::make_shared<MixerCore>(
          mixer_internal::ValidOutputRate(output_rate) ? output_rate
                                                       : kDefaultOutputRate)) {}

SoftwareMixer::~SoftwareMixer() = default;

bool SoftwareMixer::SetOutputRate(uint32_t hz) {
  if (!mixer_internal::ValidOutputRate(hz)) return false;
  std::lock_guard lock(core_->mutex);
  core_->output_rate = hz;
  return true;
}

uint32_t SoftwareMixer::OutputRate() const {
  std::lock_guard lock(core_->mutex);
  return core_->output_rate;
}

std::unique_ptr<SoundBuffer> SoftwareMixer::CreateBuffer(
    const WaveFormat& format, const uint8_t* data, uint32_t size) {
  const std::optional<SampleLayout> layout = ParseSampleLayout(format);
  if (!layout || data == nullptr) return nullptr;
  const uint32_t frames = size / layout->bytes_per_frame;
  if (frames == 0 || frames >= mixer_internal::kMaxFrames) return nullptr;

  try {
    auto pcm = std::make_shared<mixer_internal::Pcm>();
    pcm->layout = *layout;
    pcm->frames = frames;
    pcm->rate = format.samples_per_sec;
    pcm->bytes.assign(data, data + size_t(frames) * layout->bytes_per_frame);
    if (layout->encoding == SampleEncoding::kFloat32)
      mixer_internal::SanitizeFloats(&pcm->bytes);
    pcm->mix = mixer_internal::MixFunctionFor(*layout);
    return mixer_internal::MakeBuffer(core_, std::move(pcm));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void SoftwareMixer::Render(float* out, uint32_t frames) {
  if (out == nullptr) return;
  std::fill(out, out + 2 * size_t(frames), 0.0f);
  for (uint32_t done = 0; done < frames;) {
    const uint32_t count =
        std::min(mixer_internal::kSliceFrames, frames - done);
    {
      std::lock_guard lock(core_->mutex);
      const uint32_t rate = core_->output_rate;
      const uint32_t ramp =
          std::max<uint32_t>(1, rate / 1000 * mixer_internal::kRampMs);
      for (Voice* voice : core_->voices) {
        if (!voice->playing) continue;
        const uint64_t step =
            (uint64_t(voice->frequency.load(std::memory_order_relaxed)) << 32) /
            rate;
        voice->pcm->mix(*voice, out + 2 * size_t(done), count, step, ramp);
      }
    }
    done += count;
  }
  core_->rendered.fetch_add(frames, std::memory_order_relaxed);
}

void SoftwareMixer::RenderClamped(float* out, uint32_t frames) {
  Render(out, frames);
  if (out == nullptr) return;
  for (size_t i = 0; i < 2 * size_t(frames); ++i)
    out[i] = std::clamp(out[i], -1.0f, 1.0f);
}

uint64_t SoftwareMixer::RenderedFrames() const {
  return core_->rendered.load(std::memory_order_relaxed);
}

}  // namespace veska
