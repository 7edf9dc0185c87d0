// Reading a sound file from disk into PCM for the device.
#ifndef VESKA_SOUND_SOUND_FILE_H_
#define VESKA_SOUND_SOUND_FILE_H_

#include <string>
#include <vector>

#include "sound/sound_decoder.h"

namespace veska {

// A WAV file (one starting with "RIFF") is read piece by piece, never more
// than its headers, format and kept data. Any other file (up to 4 GiB) is
// read by `decoders` as they go, once one of them takes its start (the
// first MiB, 32 MiB when it starts as an Ogg or FLAC stream); else it is
// refused after that start. `path` is UTF-8. False when the file cannot be
// read or decoded; `out` then holds nothing.
bool ReadSoundFile(const std::string& path,
                   const std::vector<SoundDecoder>& decoders,
                   DecodedSound* out);

}  // namespace veska

#endif  // VESKA_SOUND_SOUND_FILE_H_
