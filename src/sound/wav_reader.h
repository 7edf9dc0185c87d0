// Taking a RIFF/WAVE file apart: in place in a memory image, or from a file
// read piece by piece.
#ifndef VESKA_SOUND_WAV_READER_H_
#define VESKA_SOUND_WAV_READER_H_

#include <cstdint>
#include <functional>

#include "sound/sound_decoder.h"

namespace veska {

// Chunk headers looked at before giving up on finding "fmt " then "data";
// real files have a handful, and each costs a read from disk.
inline constexpr uint32_t kMaxWaveChunks = 4096;

// True when the first four bytes are "RIFF"; such an image is only ever read
// as a WAV file.
bool IsRiffImage(const uint8_t* image, uint32_t size);

// Fills `out` with the "fmt " chunk as stored and the "data" chunk's body in
// place (`out->data` points into `image`, nothing is owned). False when the
// chunks are missing, out of order, or the header or format lie past the end.
// The data is cut to the bytes present, and to kMaxDecodedBytes in whole
// sample frames.
bool ReadWaveImage(const uint8_t* image, uint32_t size, DecodedSound* out);

using WaveFileReader = FileReader;

// The same for a file of `size` bytes starting with "RIFF", read through
// `read`: only the chunk headers, the format and the data kept are read, so
// a huge file costs no more than the cap. The data is copied into
// `out->owned`.
bool ReadWaveFile(uint64_t size, const WaveFileReader& read, DecodedSound* out);

}  // namespace veska

#endif  // VESKA_SOUND_WAV_READER_H_
