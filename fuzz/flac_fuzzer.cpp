// The FLAC memory decoder: any bytes are refused or decode to 16-bit PCM in
// whole frames, under the cap.
#include <cstdint>

#include "decoded_sound_check.h"
#include "sound/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veska::fuzz::DecodeAndCheck(data, size, veska::FlacDecoder);
  return 0;
}
