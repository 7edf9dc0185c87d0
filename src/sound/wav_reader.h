// Taking a RIFF/WAVE image apart in place.
#ifndef VESKA_SOUND_WAV_READER_H_
#define VESKA_SOUND_WAV_READER_H_

#include <cstdint>

#include "sound/sound_decoder.h"

namespace veska {

// True when the first four bytes are "RIFF"; such an image is only ever read
// as a WAV file.
bool IsRiffImage(const uint8_t* image, uint32_t size);

// Fills `out` with the "fmt " chunk as stored and the "data" chunk's body in
// place (`out->data` points into `image`, nothing is owned). False when the
// chunks are missing, out of order, or the header or format lie past the end.
bool ReadWaveImage(const uint8_t* image, uint32_t size, DecodedSound* out);

}  // namespace veska

#endif  // VESKA_SOUND_WAV_READER_H_
