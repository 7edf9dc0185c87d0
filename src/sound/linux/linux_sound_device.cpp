#include "sound/linux/linux_sound_device.h"

#include <SDL.h>

#include <cstdlib>

namespace veska {
namespace {

// The server's stream and SDL are asked for the same rate.
constexpr int kWantedRate = int(PulseOutput::kRate);
// Only where there is no sound server: SDL's own outputs ask for more in
// quarter periods, so a change is heard 1 to 1.8 periods later; 32 ms at
// 48 kHz keeps that within the 60 ms the program allows.
constexpr Uint16 kCallbackFrames = 1536;
constexpr char kApplicationName[] = "VESKA";

// SDL_AUDIODRIVER is the user's word that SDL is to be used, and which of
// its outputs.
bool SdlAskedFor() {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  return driver != nullptr && *driver != '\0';
}

}  // namespace

LinuxSoundDevice::LinuxSoundDevice(std::FILE* messages)
    : mixer_(kWantedRate), keeper_(KeptOutput(), messages) {}

LinuxSoundDevice::~LinuxSoundDevice() { Close(); }

bool LinuxSoundDevice::Open() {
  // Open already, or lost and awaited.
  if (keeper_.Running()) return true;
  if (!OpenOutput(SdlAskedFor() ? Path::kSdl : Path::kNone)) return false;
  first_path_ = open_;
  if (open_ == Path::kSdl) {
    const char* driver = SDL_GetCurrentAudioDriver();
    sdl_driver_ = driver != nullptr ? driver : "";
  }
  keeper_.Start();
  return true;
}

bool LinuxSoundDevice::OpenOutput(Path only) {
  if (open_ != Path::kNone) return true;
  if (only != Path::kSdl && server_.Open(mixer_, kApplicationName)) {
    open_ = Path::kServer;
    return true;
  }
  if (only == Path::kServer || !OpenSdl()) return false;
  open_ = Path::kSdl;
  return true;
}

bool LinuxSoundDevice::OpenSdl() {
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
  want.callback = &LinuxSoundDevice::Callback;
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
  sdl_device_ = device;
  SDL_PauseAudioDevice(device, 0);
  return true;
}

std::unique_ptr<SoundBuffer> LinuxSoundDevice::CreateBuffer(
    const WaveFormat& format, const uint8_t* data, uint32_t size) {
  return mixer_.CreateBuffer(format, data, size);
}

void LinuxSoundDevice::Close() {
  keeper_.Stop();
  CloseOutput();
}

void LinuxSoundDevice::CloseOutput() {
  const Path open = open_;
  if (open == Path::kServer) server_.Close();
  if (open == Path::kSdl) {
    // Returns only once the callback has finished for good.
    SDL_CloseAudioDevice(sdl_device_);
    sdl_device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  open_ = Path::kNone;
}

OutputKeeper::Output LinuxSoundDevice::KeptOutput() {
  return {
      // SDL stops a device whose server went away (it posts an event too,
      // but nothing here pumps SDL's events).
      .playing =
          [this] {
            switch (open_.load()) {
              case Path::kServer:
                return server_.Playing();
              case Path::kSdl:
                return SDL_GetAudioDeviceStatus(sdl_device_) ==
                       SDL_AUDIO_PLAYING;
              case Path::kNone:
                break;
            }
            return false;
          },
      .close = [this] { CloseOutput(); },
      .reopen = [this] { return ReopenOutput(); },
  };
}

bool LinuxSoundDevice::ReopenOutput() {
  // Back the way that worked at first: while the server is away, SDL would
  // otherwise settle on the next output it can start (the sound card's own,
  // say) and never return to the server.
  if (first_path_ == Path::kServer) return OpenOutput(Path::kServer);
  if (!sdl_driver_.empty()) {
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, sdl_driver_.c_str(),
                            SDL_HINT_OVERRIDE);
  }
  const bool opened = OpenOutput(Path::kSdl);
  if (!sdl_driver_.empty()) SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  return opened;
}

void LinuxSoundDevice::Callback(void* self, uint8_t* stream, int bytes) {
  auto* device = static_cast<LinuxSoundDevice*>(self);
  const uint32_t frames = uint32_t(bytes > 0 ? bytes : 0) / (2 * sizeof(float));
  device->mixer_.RenderClamped(reinterpret_cast<float*>(stream), frames);
}

}  // namespace veska
