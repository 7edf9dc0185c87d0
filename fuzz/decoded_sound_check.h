// What every compressed-format decode must give, checked on any bytes.
#ifndef VESKA_FUZZ_DECODED_SOUND_CHECK_H_
#define VESKA_FUZZ_DECODED_SOUND_CHECK_H_

#include <cstdint>
#include <cstdlib>

#include "sound/sound_decoder.h"

namespace veska::fuzz {

inline void DecodeAndCheck(const uint8_t* data, size_t size,
                           const SoundDecoder& decoder) {
  if (size > UINT32_MAX || (size >= 4 && data[0] == 'R' && data[1] == 'I' &&
                            data[2] == 'F' && data[3] == 'F')) {
    return;  // the WAV walk's, not the decoder's
  }
  DecodedSound sound;
  if (!DecodeSoundData(data, static_cast<uint32_t>(size), {decoder}, &sound)) {
    if (sound.size != 0 || !sound.owned.empty()) std::abort();
    return;
  }
  const WaveFormat& f = sound.format;
  const bool sane =
      f.format_tag == kWaveFormatPcm && f.bits_per_sample == 16 &&
      f.channels > 0 && f.block_align == f.channels * 2 &&
      sound.size % f.block_align == 0 && sound.size <= kMaxDecodedBytes &&
      sound.data == sound.owned.data() && sound.size == sound.owned.size();
  if (!sane) std::abort();
}

}  // namespace veska::fuzz

#endif  // VESKA_FUZZ_DECODED_SOUND_CHECK_H_
