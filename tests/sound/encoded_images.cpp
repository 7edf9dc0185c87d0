#include "encoded_images.h"

#include <FLAC/stream_encoder.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace veska::testing {
namespace {

struct FlacSink {
  Bytes bytes;
  uint64_t position = 0;
};

FLAC__StreamEncoderWriteStatus WriteFlac(const FLAC__StreamEncoder*,
                                         const FLAC__byte buffer[],
                                         size_t count, uint32_t, uint32_t,
                                         void* client) {
  auto* sink = static_cast<FlacSink*>(client);
  if (sink->bytes.size() < sink->position + count) {
    sink->bytes.resize(sink->position + count);
  }
  std::memcpy(sink->bytes.data() + sink->position, buffer, count);
  sink->position += count;
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus SeekFlac(const FLAC__StreamEncoder*,
                                       FLAC__uint64 offset, void* client) {
  static_cast<FlacSink*>(client)->position = offset;
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus TellFlac(const FLAC__StreamEncoder*,
                                       FLAC__uint64* offset, void* client) {
  *offset = static_cast<FlacSink*>(client)->position;
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

void AppendPage(const ogg_page& page, Bytes* out) {
  out->insert(out->end(), page.header, page.header + page.header_len);
  out->insert(out->end(), page.body, page.body + page.body_len);
}

}  // namespace

// Runs an encoder for `frames` sample frames; `feed` gives them in parts.
template <typename Feed>
Bytes RunFlacEncoder(uint64_t frames, uint32_t channels, uint32_t rate,
                     uint32_t bits, bool store_total, Feed feed) {
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  FLAC__stream_encoder_set_channels(encoder, channels);
  FLAC__stream_encoder_set_sample_rate(encoder, rate);
  FLAC__stream_encoder_set_bits_per_sample(encoder, bits);
  FLAC__stream_encoder_set_compression_level(encoder, 5);
  FLAC__stream_encoder_set_total_samples_estimate(encoder,
                                                  store_total ? frames : 0);
  FlacSink sink;
  // Without seek and tell the encoder cannot go back to write the length.
  FLAC__stream_encoder_init_stream(encoder, WriteFlac,
                                   store_total ? SeekFlac : nullptr,
                                   store_total ? TellFlac : nullptr,
                                   /*metadata=*/nullptr, &sink);
  feed(encoder);
  FLAC__stream_encoder_finish(encoder);
  FLAC__stream_encoder_delete(encoder);
  return sink.bytes;
}

Bytes EncodeFlac(const std::vector<int32_t>& interleaved, uint32_t channels,
                 uint32_t rate, uint32_t bits, bool store_total) {
  const uint64_t frames = interleaved.size() / channels;
  return RunFlacEncoder(
      frames, channels, rate, bits, store_total, [&](auto* encoder) {
        FLAC__stream_encoder_process_interleaved(encoder, interleaved.data(),
                                                 static_cast<uint32_t>(frames));
      });
}

Bytes EncodeFlacSilence(uint64_t frames, uint32_t channels, uint32_t rate,
                        bool store_total) {
  return RunFlacEncoder(
      frames, channels, rate, 16, store_total, [&](auto* encoder) {
        const uint32_t step = 65536;
        const std::vector<int32_t> zeros(size_t{step} * channels, 0);
        for (uint64_t done = 0; done < frames; done += step) {
          const auto n =
              static_cast<uint32_t>(std::min<uint64_t>(step, frames - done));
          FLAC__stream_encoder_process_interleaved(encoder, zeros.data(), n);
        }
      });
}

void SetLastOggGranule(Bytes* image, uint64_t granule) {
  size_t last = 0;
  for (size_t at = 0; at + 27 <= image->size(); ++at) {
    if (std::memcmp(image->data() + at, "OggS", 4) == 0) last = at;
  }
  uint8_t* header = image->data() + last;
  for (int i = 0; i < 8; ++i) header[6 + i] = uint8_t(granule >> (8 * i));
  const long header_len = 27 + header[26];
  ogg_page page{header, header_len, header + header_len,
                static_cast<long>(image->size() - last) - header_len};
  ogg_page_checksum_set(&page);
}

Bytes EncodeOggVorbis(const std::vector<float>& interleaved, uint32_t channels,
                      uint32_t rate) {
  vorbis_info info;
  vorbis_info_init(&info);
  vorbis_encode_init_vbr(&info, static_cast<long>(channels),
                         static_cast<long>(rate), 0.3f);
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 1234);

  Bytes out;
  ogg_packet header, header_comment, header_code;
  vorbis_analysis_headerout(&dsp, &comment, &header, &header_comment,
                            &header_code);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &header_comment);
  ogg_stream_packetin(&stream, &header_code);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page) != 0) AppendPage(page, &out);

  auto drain = [&] {
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet) != 0) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page) != 0) AppendPage(page, &out);
      }
    }
  };
  const size_t frames = interleaved.size() / channels;
  const size_t step = 1024;
  for (size_t start = 0; start < frames; start += step) {
    const size_t count = std::min(step, frames - start);
    float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
    for (size_t i = 0; i < count; ++i) {
      for (uint32_t c = 0; c < channels; ++c) {
        buffer[c][i] = interleaved[(start + i) * channels + c];
      }
    }
    vorbis_analysis_wrote(&dsp, static_cast<int>(count));
    drain();
  }
  vorbis_analysis_wrote(&dsp, 0);
  drain();
  while (ogg_stream_flush(&stream, &page) != 0) AppendPage(page, &out);

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

std::vector<int32_t> SineFrames(uint32_t frames, uint32_t channels,
                                uint32_t rate, uint32_t bits,
                                double amplitude) {
  std::vector<int32_t> samples(static_cast<size_t>(frames) * channels);
  const double full = std::ldexp(1.0, static_cast<int>(bits) - 1) - 1;
  for (uint32_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < channels; ++c) {
      const double hz = 220.0 * (c + 1);
      samples[static_cast<size_t>(i) * channels + c] = static_cast<int32_t>(
          std::lround(amplitude * full *
                      std::sin(2 * std::numbers::pi * hz * i / rate + c)));
    }
  }
  return samples;
}

}  // namespace veska::testing
