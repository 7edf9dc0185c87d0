#include "sound/sdl/sdl_sound_device.h"

#include <SDL.h>

#include <algorithm>

namespace veska {
namespace {

constexpr int kWantedRate = 48000;
// 32 ms at 48 kHz. The sound server buffers about one period and asks for
// more in quarter periods, so a change of volume, pitch or pan (or a start)
// is heard 1 to 1.8 periods later: 27 to 59 ms measured on PulseAudio
// (bench/output_latency.sh), inside the 60 ms the program allows. A longer
// period would wake the audio thread less often, but would be heard late.
constexpr Uint16 kCallbackFrames = 1536;
constexpr char kApplicationName[] = "VESKA";

}  // namespace

SdlSoundDevice::SdlSoundDevice(std::FILE* messages)
    : mixer_(kWantedRate), keeper_(KeptOutput(), messages) {}

SdlSoundDevice::~SdlSoundDevice() { Close(); }

bool SdlSoundDevice::Open() {
  // Open already, or lost and awaited.
  if (keeper_.Running()) return true;
  if (!OpenOutput()) return false;
  const char* driver = SDL_GetCurrentAudioDriver();
  driver_ = driver != nullptr ? driver : "";
  keeper_.Start();
  return true;
}

bool SdlSoundDevice::OpenOutput() {
  if (device_ != 0) return true;

  // The sound server lists the stream under this name.
  SDL_SetHint(SDL_HINT_APP_NAME, kApplicationName);
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, kApplicationName);
  // Nothing here pumps SDL's event queue, so SDL must not turn SIGINT and
  // SIGTERM into quit events: the process has to end as any other would.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;

  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = kWantedRate;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = kCallbackFrames;
  want.callback = &SdlSoundDevice::Callback;
  want.userdata = this;
  SDL_AudioSpec have;
  SDL_zero(have);
  // Only the rate may differ; SDL converts anything else to float stereo,
  // which is what the callback writes.
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(
      nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (device == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  if (have.freq <= 0 || !mixer_.SetOutputRate(uint32_t(have.freq))) {
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  device_ = device;
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

std::unique_ptr<SoundBuffer> SdlSoundDevice::CreateBuffer(
    const WaveFormat& format, const uint8_t* data, uint32_t size) {
  return mixer_.CreateBuffer(format, data, size);
}

void SdlSoundDevice::Close() {
  keeper_.Stop();
  CloseOutput();
}

void SdlSoundDevice::CloseOutput() {
  if (device_ == 0) return;
  // Returns only once the callback has finished for good.
  SDL_CloseAudioDevice(device_);
  device_ = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

OutputKeeper::Output SdlSoundDevice::KeptOutput() {
  return {
      // SDL stops a device whose server went away (it posts an event too,
      // but nothing here pumps SDL's events).
      .playing =
          [this] {
            return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING;
          },
      .close = [this] { CloseOutput(); },
      .reopen = [this] { return ReopenOutput(); },
  };
}

bool SdlSoundDevice::ReopenOutput() {
  // Back through the driver that worked at first: while the server is away,
  // SDL would otherwise settle on the next driver it can start (the sound
  // card's own, say) and never return to the server.
  if (!driver_.empty()) {
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, driver_.c_str(),
                            SDL_HINT_OVERRIDE);
  }
  const bool opened = OpenOutput();
  if (!driver_.empty()) SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  return opened;
}

void SdlSoundDevice::Callback(void* self, uint8_t* stream, int bytes) {
  auto* device = static_cast<SdlSoundDevice*>(self);
  float* out = reinterpret_cast<float*>(stream);
  const uint32_t frames = uint32_t(std::max(bytes, 0)) / (2 * sizeof(float));
  device->mixer_.Render(out, frames);
  // Many loud voices can sum past full scale; hand the output a clean range.
  for (uint32_t i = 0; i < 2 * frames; ++i)
    out[i] = std::clamp(out[i], -1.0f, 1.0f);
}

}  // namespace veska
