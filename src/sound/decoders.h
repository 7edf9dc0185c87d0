// The compressed-format decoders, over libvorbisfile and libFLAC.
#ifndef VESKA_SOUND_DECODERS_H_
#define VESKA_SOUND_DECODERS_H_

#include "sound/sound_decoder.h"

namespace veska {

extern const SoundDecoder OggVorbisDecoder;
extern const SoundDecoder FlacDecoder;

}  // namespace veska

#endif  // VESKA_SOUND_DECODERS_H_
