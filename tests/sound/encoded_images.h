// Ogg Vorbis and FLAC images made in memory with the libraries' encoders.
#ifndef VESKA_TESTS_SOUND_ENCODED_IMAGES_H_
#define VESKA_TESTS_SOUND_ENCODED_IMAGES_H_

#include <cstdint>
#include <vector>

#include "wave_image.h"

namespace veska::testing {

// Interleaved integer samples of `bits` each. Without `store_total` the
// stream information says nothing of the length.
Bytes EncodeFlac(const std::vector<int32_t>& interleaved, uint32_t channels,
                 uint32_t rate, uint32_t bits, bool store_total = true);

// `frames` of silence, fed to the encoder a little at a time so that long
// streams take no memory.
Bytes EncodeFlacSilence(uint64_t frames, uint32_t channels, uint32_t rate,
                        bool store_total = true);

// Interleaved samples in -1..1.
Bytes EncodeOggVorbis(const std::vector<float>& interleaved, uint32_t channels,
                      uint32_t rate);

// Makes the last page of an Ogg image state `granule` as its position (the
// stream's length), with its checksum made to match.
void SetLastOggGranule(Bytes* image, uint64_t granule);

// `frames` sample frames of a sine per channel (a different pitch on each),
// at `amplitude` of full scale for `bits`.
std::vector<int32_t> SineFrames(uint32_t frames, uint32_t channels,
                                uint32_t rate, uint32_t bits,
                                double amplitude = 0.5);

}  // namespace veska::testing

#endif  // VESKA_TESTS_SOUND_ENCODED_IMAGES_H_
