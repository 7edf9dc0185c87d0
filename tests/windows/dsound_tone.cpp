// veska_dsound_tone TONE_HZ FREQUENCY VOLUME PAN SECONDS [STOP_FILE] : plays
// one looping second of a 16-bit mono sine of TONE_HZ recorded at 22050 Hz
// through the DirectSound device, at playback FREQUENCY (Hz), VOLUME and PAN
// (hundredths of a decibel), for SECONDS or until STOP_FILE exists, then
// ends. Prints "playing" once it plays, so that a recording can start; exit
// status 1 when any call fails.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include <windows.h>

#include "sound/dsound/dsound_sound_device.h"

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr,
                 "usage: %s TONE_HZ FREQUENCY VOLUME PAN SECONDS [STOP_FILE]\n",
                 argv[0]);
    return 2;
  }
  const double tone = std::atof(argv[1]);
  const auto frequency = static_cast<uint32_t>(std::atol(argv[2]));
  const auto volume = static_cast<int32_t>(std::atol(argv[3]));
  const auto pan = static_cast<int32_t>(std::atol(argv[4]));
  const double seconds = std::atof(argv[5]);
  const char* stop_file = argc == 7 ? argv[6] : nullptr;

  constexpr uint32_t kRate = 22050;
  // A whole second loops without a seam when the tone is a whole number of
  // hertz.
  std::vector<int16_t> samples(kRate);
  for (uint32_t i = 0; i < kRate; ++i) {
    samples[i] = static_cast<int16_t>(
        16384 * std::sin(2 * std::numbers::pi * tone * i / kRate));
  }
  veska::WaveFormat format;
  format.format_tag = veska::kWaveFormatPcm;
  format.channels = 1;
  format.samples_per_sec = kRate;
  format.bits_per_sample = 16;
  format.block_align = 2;
  format.avg_bytes_per_sec = kRate * 2;

  veska::DsoundSoundDevice device;
  if (!device.Open()) {
    std::printf("open failed 0x%08lx\n",
                static_cast<unsigned long>(device.LastOpenError()));
    return 1;
  }
  int status = 0;
  {
    auto buffer = device.CreateBuffer(
        format, reinterpret_cast<const uint8_t*>(samples.data()),
        static_cast<uint32_t>(samples.size() * 2));
    if (buffer == nullptr || !buffer->SetFrequency(frequency) ||
        !buffer->SetVolume(volume) || !buffer->SetPan(pan) ||
        !buffer->Play(true)) {
      std::printf("buffer call failed\n");
      status = 1;
    } else {
      std::printf("playing\n");
      std::fflush(stdout);
      const ULONGLONG end =
          GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
      while (GetTickCount64() < end &&
             (stop_file == nullptr ||
              GetFileAttributesA(stop_file) == INVALID_FILE_ATTRIBUTES)) {
        Sleep(20);
      }
      buffer->Stop();
    }
  }
  device.Close();
  return status;
}
