// Only the callbacks below are used; the library's static ones would go unused.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "sound/decoders.h"

namespace veska {
namespace {

constexpr uint32_t kMaxBytesWithoutSound = 32u << 20;

struct OggVorbisInstance {
  SourceCursor source;  // first: the library's data source points here
  // The source reads as ended here: a stream followed by anything but
  // sound is searched for more only so far past the last sound decoded.
  uint32_t read_limit = kMaxBytesWithoutSound;
  OggVorbis_File file;
  uint32_t channels = 0;
  uint32_t length = 0;
  uint32_t rate = 0;
};

// Output is read in steps of at most this many bytes.
constexpr int kReadStep = 4096;
// Holes and bad links are skipped, but a stream that yields nothing else
// must not keep the loop going for ever.
constexpr int kMaxErrorsInARow = 64;

size_t ReadSource(void* destination, size_t element_size, size_t count,
                  void* datasource) {
  auto* instance = static_cast<OggVorbisInstance*>(datasource);
  SourceCursor* source = &instance->source;
  if (element_size == 0 || source->position >= instance->read_limit) return 0;
  // Whole elements only; the library asks for bytes anyway.
  const uint32_t left = source->position < source->source.size
                            ? source->source.size - source->position
                            : 0;
  const size_t elements = std::min<size_t>(count, left / element_size);
  return source->Read(destination, elements * element_size) / element_size;
}

int CloseSource(void* datasource) {
  static_cast<OggVorbisInstance*>(datasource)->source.position = 0;
  return 0;
}

long TellSource(void* datasource) {
  return static_cast<long>(
      static_cast<OggVorbisInstance*>(datasource)->source.position);
}

void* OggOpen(const SoundSource& source) {
  auto* instance = new (std::nothrow) OggVorbisInstance;
  if (instance == nullptr) return nullptr;
  instance->source.source = source;
  // Not seekable: the library would look for the last page, and with it
  // the length, from the end back, reading ever more of anything that
  // follows the stream (30 MB of it took more than a minute). Read forward,
  // the sound is as long as what decodes.
  const ov_callbacks callbacks = {ReadSource, nullptr, CloseSource, TellSource};
  if (ov_open_callbacks(instance, &instance->file, nullptr, 0, callbacks) < 0) {
    // The library has cleaned up its own state already.
    delete instance;
    return nullptr;
  }
  const vorbis_info* info = ov_info(&instance->file, -1);
  if (info != nullptr && info->channels > 0 && info->rate > 0) {
    instance->channels = static_cast<uint32_t>(info->channels);
    instance->rate = static_cast<uint32_t>(info->rate);
  }
  // An unknown (negative) total reads as 0; a count beyond 32 bits is
  // held at the largest value rather than cut to its low bits.
  const ogg_int64_t total = ov_pcm_total(&instance->file, -1);
  instance->length = static_cast<uint32_t>(
      std::clamp<ogg_int64_t>(total, 0, static_cast<ogg_int64_t>(UINT32_MAX)));
  return instance;
}

uint32_t OggDecode(void* opaque, uint8_t* output, uint32_t bytes) {
  auto* instance = static_cast<OggVorbisInstance*>(opaque);
  uint32_t written = 0;
  int errors = 0;
  while (written < bytes) {
    const int step =
        static_cast<int>(std::min<uint32_t>(kReadStep, bytes - written));
    int section = 0;
    const long got =
        ov_read(&instance->file, reinterpret_cast<char*>(output + written),
                step, /*bigendianp=*/0, /*word=*/2, /*sgned=*/1, &section);
    if (got == 0) break;
    if (got < 0) {
      if (++errors >= kMaxErrorsInARow) break;
      continue;
    }
    errors = 0;
    written += static_cast<uint32_t>(got);
    const uint32_t at = instance->source.position;
    instance->read_limit =
        at + std::min(kMaxBytesWithoutSound, UINT32_MAX - at);
  }
  return written;
}

uint32_t OggChannels(void* instance) {
  return static_cast<OggVorbisInstance*>(instance)->channels;
}

uint32_t OggLength(void* instance) {
  return static_cast<OggVorbisInstance*>(instance)->length;
}

uint32_t OggSampleRate(void* instance) {
  return static_cast<OggVorbisInstance*>(instance)->rate;
}

void OggClose(void* opaque) {
  auto* instance = static_cast<OggVorbisInstance*>(opaque);
  ov_clear(&instance->file);
  delete instance;
}

}  // namespace

const SoundDecoder OggVorbisDecoder = {OggOpen,   OggDecode,     OggChannels,
                                       OggLength, OggSampleRate, OggClose};

}  // namespace veska
