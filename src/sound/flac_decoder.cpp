#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "sound/decoders.h"

namespace veska {
namespace {

struct FlacInstance {
  SourceCursor source;
  FLAC__StreamDecoder* decoder = nullptr;
  uint32_t channels = 0;  // written per sample frame: 1, or 2 for stereo+
  uint32_t length = 0;
  uint32_t rate = 0;
  uint8_t* cursor = nullptr;  // none while opening: frames are not stored
  uint32_t remaining = 0;
  // The part of the last frame that did not fit, for the next Decode.
  std::vector<uint8_t> pending;
  size_t pending_read = 0;
};

// The library's samples carry the stream's own depth; the device gets 16.
int16_t To16Bits(FLAC__int32 sample, uint32_t bits) {
  if (bits > 16 && bits <= 32) {
    return static_cast<int16_t>(sample >> (bits - 16));
  }
  if (bits > 0 && bits < 16) {
    return static_cast<int16_t>(sample * (1 << (16 - bits)));
  }
  return static_cast<int16_t>(sample);
}

void Put16(uint8_t* out, int16_t value) {
  const auto bits = static_cast<uint16_t>(value);
  out[0] = static_cast<uint8_t>(bits & 0xFF);
  out[1] = static_cast<uint8_t>(bits >> 8);
}

FLAC__StreamDecoderReadStatus ReadSource(const FLAC__StreamDecoder*,
                                         FLAC__byte buffer[], size_t* bytes,
                                         void* client) {
  *bytes = static_cast<FlacInstance*>(client)->source.Read(buffer, *bytes);
  return *bytes == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                     : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderTellStatus TellSource(const FLAC__StreamDecoder*,
                                         FLAC__uint64* offset, void* client) {
  *offset = static_cast<FlacInstance*>(client)->source.position;
  return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus LengthSource(const FLAC__StreamDecoder*,
                                             FLAC__uint64* length,
                                             void* client) {
  *length = static_cast<FlacInstance*>(client)->source.source.size;
  return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__StreamDecoderWriteStatus WriteFrame(const FLAC__StreamDecoder*,
                                          const FLAC__Frame* frame,
                                          const FLAC__int32* const buffer[],
                                          void* client) {
  auto* instance = static_cast<FlacInstance*>(client);
  if (instance->cursor == nullptr) {
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  const uint32_t frame_channels = frame->header.channels;
  if (frame_channels == 0) return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  const uint32_t bits = frame->header.bits_per_sample;
  const uint32_t out_channels = instance->channels;
  const uint32_t frame_bytes = out_channels * 2;
  const uint32_t n = frame->header.blocksize;
  const uint32_t fit = std::min(n, instance->remaining / frame_bytes);

  // A mono frame in a stereo stream (damaged data) repeats its one channel.
  const FLAC__int32* left = buffer[0];
  const FLAC__int32* right = buffer[frame_channels > 1 ? 1 : 0];
  auto store = [&](uint8_t* out, uint32_t i) {
    Put16(out, To16Bits(left[i], bits));
    if (out_channels == 2) Put16(out + 2, To16Bits(right[i], bits));
  };

  for (uint32_t i = 0; i < fit; ++i) {
    store(instance->cursor, i);
    instance->cursor += frame_bytes;
  }
  instance->remaining -= fit * frame_bytes;
  if (fit < n) {
    instance->pending.resize(static_cast<size_t>(n - fit) * frame_bytes);
    instance->pending_read = 0;
    for (uint32_t i = fit; i < n; ++i) {
      store(instance->pending.data() + (i - fit) * frame_bytes, i);
    }
  }
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

// The library recovers by itself; damaged parts stay silent.
void IgnoreError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus,
                 void*) {}

void Discard(FlacInstance* instance) {
  FLAC__stream_decoder_finish(instance->decoder);
  FLAC__stream_decoder_delete(instance->decoder);
  delete instance;
}

void* FlacOpen(const SoundSource& source) {
  auto* instance = new (std::nothrow) FlacInstance;
  if (instance == nullptr) return nullptr;
  instance->decoder = FLAC__stream_decoder_new();
  if (instance->decoder == nullptr) {
    delete instance;
    return nullptr;
  }
  instance->source.source = source;
  if (FLAC__stream_decoder_init_stream(
          instance->decoder, ReadSource, /*seek=*/nullptr, TellSource,
          LengthSource, /*eof=*/nullptr, WriteFrame, /*metadata=*/nullptr,
          IgnoreError, instance) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    Discard(instance);
    return nullptr;
  }
  FLAC__stream_decoder_process_until_end_of_metadata(instance->decoder);
  // The channel count and rate are known only once a frame is decoded.
  FLAC__stream_decoder_process_single(instance->decoder);
  const uint32_t channels =
      FLAC__stream_decoder_get_channels(instance->decoder);
  const FLAC__uint64 total =
      FLAC__stream_decoder_get_total_samples(instance->decoder);
  instance->rate = FLAC__stream_decoder_get_sample_rate(instance->decoder);
  if (channels == 0) {
    Discard(instance);
    return nullptr;
  }
  instance->channels = channels == 1 ? 1 : 2;
  instance->length =
      static_cast<uint32_t>(std::min<FLAC__uint64>(total, UINT32_MAX));

  // Back to the first sample: the source is rewound by hand and the decoder
  // starts over, so the probe frame is decoded again from the start.
  instance->source.position = 0;
  if (!FLAC__stream_decoder_reset(instance->decoder)) {
    Discard(instance);
    return nullptr;
  }
  FLAC__stream_decoder_process_until_end_of_metadata(instance->decoder);
  return instance;
}

uint32_t FlacDecode(void* opaque, uint8_t* output, uint32_t bytes) {
  auto* instance = static_cast<FlacInstance*>(opaque);
  const uint32_t frame_bytes = instance->channels * 2;
  bytes -= bytes % frame_bytes;
  instance->cursor = output;
  instance->remaining = bytes;

  const size_t carried = std::min<size_t>(
      instance->pending.size() - instance->pending_read, instance->remaining);
  if (carried > 0) {
    std::memcpy(instance->cursor,
                instance->pending.data() + instance->pending_read, carried);
    instance->pending_read += carried;
    instance->cursor += carried;
    instance->remaining -= static_cast<uint32_t>(carried);
  }
  if (instance->pending_read == instance->pending.size()) {
    instance->pending.clear();
    instance->pending_read = 0;
  }

  while (instance->remaining > 0) {
    if (!FLAC__stream_decoder_process_single(instance->decoder)) break;
    // End of stream, or any state the decoder cannot go on from.
    if (FLAC__stream_decoder_get_state(instance->decoder) >=
        FLAC__STREAM_DECODER_END_OF_STREAM) {
      break;
    }
  }
  instance->cursor = nullptr;
  return bytes - instance->remaining;
}

uint32_t FlacChannels(void* instance) {
  return static_cast<FlacInstance*>(instance)->channels;
}

uint32_t FlacLength(void* instance) {
  return static_cast<FlacInstance*>(instance)->length;
}

uint32_t FlacSampleRate(void* instance) {
  return static_cast<FlacInstance*>(instance)->rate;
}

void FlacClose(void* instance) {
  Discard(static_cast<FlacInstance*>(instance));
}

}  // namespace

const SoundDecoder FlacDecoder = {FlacOpen,   FlacDecode,     FlacChannels,
                                  FlacLength, FlacSampleRate, FlacClose};

}  // namespace veska
