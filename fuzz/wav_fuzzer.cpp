// The WAV walk and what the mixer makes of it: any bytes are refused or give
// a format and data inside the image and under the cap; the piecewise file
// reader agrees with the image reader; a buffer the mixer accepts plays, at
// the slowest and fastest rates, to finite samples.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sound/mixer/mixer.h"
#include "sound/sound_decoder.h"
#include "sound/wav_reader.h"

namespace {

using veska::DecodedSound;

void Check(bool condition) {
  if (!condition) std::abort();
}

// The same bytes as a file read piece by piece.
void CheckFileReaderAgrees(const uint8_t* data, size_t size, bool image_ok,
                           const DecodedSound& image) {
  const veska::WaveFileReader read = [data, size](uint64_t offset, uint8_t* to,
                                                  uint32_t bytes) {
    if (offset > size || bytes > size - offset) return false;
    if (bytes > 0) std::memcpy(to, data + offset, bytes);
    return true;
  };
  DecodedSound file;
  const bool file_ok = veska::ReadWaveFile(size, read, &file);
  Check(file_ok == image_ok);
  if (!image_ok) return;
  const veska::WaveFormat& a = image.format;
  const veska::WaveFormat& b = file.format;
  Check(a.format_tag == b.format_tag && a.channels == b.channels &&
        a.samples_per_sec == b.samples_per_sec &&
        a.avg_bytes_per_sec == b.avg_bytes_per_sec &&
        a.block_align == b.block_align &&
        a.bits_per_sample == b.bits_per_sample && a.extra == b.extra);
  Check(file.size == image.size);
  Check(image.size == 0 || std::memcmp(file.data, image.data, image.size) == 0);
}

void Play(const DecodedSound& sound) {
  veska::SoftwareMixer mixer;
  std::unique_ptr<veska::SoundBuffer> buffer =
      mixer.CreateBuffer(sound.format, sound.data, sound.size);
  if (buffer == nullptr) return;
  buffer->SetPan(veska::kPanRight / 2);
  buffer->Play(true);
  std::vector<float> out(2 * 256);
  for (uint32_t hz : {veska::kMinFrequency, veska::kMaxFrequency}) {
    buffer->SetFrequency(hz);
    mixer.Render(out.data(), 256);
    for (float sample : out) Check(std::isfinite(sample));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  DecodedSound sound;
  const bool ok =
      veska::DecodeSoundData(data, static_cast<uint32_t>(size), {}, &sound);
  if (ok) {
    Check(sound.size <= veska::kMaxDecodedBytes);
    Check(sound.size == 0 ||
          (sound.data >= data && sound.data + sound.size <= data + size));
  }
  if (veska::IsRiffImage(data, static_cast<uint32_t>(size))) {
    CheckFileReaderAgrees(data, size, ok, sound);
  }
  if (ok) Play(sound);
  return 0;
}
