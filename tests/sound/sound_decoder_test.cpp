#include "sound/sound_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "sound/wav_reader.h"
#include "wave_image.h"

namespace veska {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::PcmFormat;
using testing::PutChunk;
using testing::PutChunkWithSize;
using testing::PutU16;
using testing::Riff;

bool Decode(const Bytes& image, DecodedSound* out,
            const std::vector<SoundDecoder>& decoders = {}) {
  return DecodeSoundData(image.data(), static_cast<uint32_t>(image.size()),
                         decoders, out);
}

Bytes Pcm(std::initializer_list<uint8_t> bytes) { return Bytes(bytes); }

// The image copied into a block of exactly its size, so that a read past the
// end is caught by the sanitizers and by the heap's guard bytes.
DecodedSound DecodeExact(const Bytes& image, bool* ok) {
  auto exact = std::make_unique<uint8_t[]>(image.size());
  if (!image.empty()) std::memcpy(exact.get(), image.data(), image.size());
  DecodedSound sound;
  *ok = DecodeSoundData(exact.get(), static_cast<uint32_t>(image.size()), {},
                        &sound);
  // Keep the bytes alive past the block for the caller's comparisons.
  if (*ok) {
    sound.owned.assign(sound.data, sound.data + sound.size);
    sound.data = sound.owned.data();
  }
  return sound;
}

TEST(WaveImageTest, TakesTheFormatAsStoredAndTheDataInPlace) {
  Bytes chunks;
  PutChunk(&chunks, "fmt ", PcmFormat(2, 22050, 16));
  PutChunk(&chunks, "data", Pcm({1, 2, 3, 4, 5, 6, 7, 8}));
  const Bytes image = Riff(chunks);
  DecodedSound sound;
  ASSERT_TRUE(Decode(image, &sound));
  EXPECT_EQ(sound.format.format_tag, kWaveFormatPcm);
  EXPECT_EQ(sound.format.channels, 2);
  EXPECT_EQ(sound.format.samples_per_sec, 22050u);
  EXPECT_EQ(sound.format.avg_bytes_per_sec, 88200u);
  EXPECT_EQ(sound.format.block_align, 4);
  EXPECT_EQ(sound.format.bits_per_sample, 16);
  EXPECT_TRUE(sound.format.extra.empty());
  EXPECT_EQ(sound.size, 8u);
  // In place: no copy made.
  EXPECT_EQ(sound.data, image.data() + image.size() - 8);
  EXPECT_TRUE(sound.owned.empty());
}

TEST(WaveImageTest, ChunksBeforeAndBetweenAreSkippedWithTheirPadByte) {
  Bytes chunks;
  PutChunk(&chunks, "LIST", Pcm({'I', 'N', 'F', 'O', 0, 0}));
  PutChunk(&chunks, "fmt ", PcmFormat(1, 8000, 8));
  // An odd body whose pad byte would otherwise be read as the next id.
  PutChunk(&chunks, "fact", Pcm({9, 9, 9}));
  PutChunk(&chunks, "data", Pcm({0x80, 0x81, 0x7F}));
  const Bytes image = Riff(chunks);
  DecodedSound sound;
  ASSERT_TRUE(Decode(image, &sound));
  EXPECT_EQ(sound.format.channels, 1);
  ASSERT_EQ(sound.size, 3u);
  EXPECT_THAT(Bytes(sound.data, sound.data + 3), ElementsAre(0x80, 0x81, 0x7F));
}

TEST(WaveImageTest, KeepsTheExtraBytesOfAnExtensibleFormat) {
  Bytes fmt = PcmFormat(2, 48000, 24);
  fmt[0] = 0xFE;
  fmt[1] = 0xFF;
  PutU16(&fmt, 22);
  for (uint8_t i = 0; i < 22; ++i) fmt.push_back(i);
  Bytes chunks;
  PutChunk(&chunks, "fmt ", fmt);
  PutChunk(&chunks, "data", Bytes(6, 0));
  DecodedSound sound;
  ASSERT_TRUE(Decode(Riff(chunks), &sound));
  EXPECT_EQ(sound.format.format_tag, kWaveFormatExtensible);
  ASSERT_EQ(sound.format.extra.size(), 22u);
  EXPECT_EQ(sound.format.extra[21], 21);

  // A count larger than the body holds keeps only the bytes that are there.
  Bytes short_fmt = PcmFormat(2, 48000, 16);
  PutU16(&short_fmt, 40);
  short_fmt.insert(short_fmt.end(), {7, 7, 7, 7});
  chunks.clear();
  PutChunk(&chunks, "fmt ", short_fmt);
  PutChunk(&chunks, "data", Bytes(4, 0));
  ASSERT_TRUE(Decode(Riff(chunks), &sound));
  EXPECT_THAT(sound.format.extra, ElementsAre(7, 7, 7, 7));
}

TEST(WaveImageTest, AnOversizedDataChunkKeepsTheBytesPresent) {
  Bytes chunks;
  PutChunk(&chunks, "fmt ", PcmFormat(1, 8000, 8));
  PutChunkWithSize(&chunks, "data", 1000000, Pcm({1, 2, 3, 4}));
  bool ok = false;
  const DecodedSound sound = DecodeExact(Riff(chunks), &ok);
  ASSERT_TRUE(ok);
  EXPECT_THAT(sound.owned, ElementsAre(1, 2, 3, 4));

  // A size so large that offset arithmetic in 32 bits would wrap.
  chunks.clear();
  PutChunk(&chunks, "fmt ", PcmFormat(1, 8000, 8));
  PutChunkWithSize(&chunks, "data", 0xFFFFFFFF, Pcm({5, 6}));
  DecodedSound wrapped = DecodeExact(Riff(chunks), &ok);
  ASSERT_TRUE(ok);
  EXPECT_THAT(wrapped.owned, ElementsAre(5, 6));
}

TEST(WaveImageTest, RefusesImagesWithoutFormatThenData) {
  DecodedSound sound;
  Bytes data_first;
  PutChunk(&data_first, "data", Pcm({1, 2}));
  PutChunk(&data_first, "fmt ", PcmFormat(1, 8000, 8));
  EXPECT_FALSE(Decode(Riff(data_first), &sound));

  Bytes no_fmt;
  PutChunk(&no_fmt, "data", Pcm({1, 2}));
  EXPECT_FALSE(Decode(Riff(no_fmt), &sound));

  Bytes no_data;
  PutChunk(&no_data, "fmt ", PcmFormat(1, 8000, 8));
  EXPECT_FALSE(Decode(Riff(no_data), &sound));

  Bytes short_fmt;
  PutChunk(&short_fmt, "fmt ", Bytes(14, 1));
  PutChunk(&short_fmt, "data", Pcm({1, 2}));
  EXPECT_FALSE(Decode(Riff(short_fmt), &sound));

  // A "fmt " whose stored size runs past the end of the image.
  Bytes fmt_past_end;
  PutChunkWithSize(&fmt_past_end, "fmt ", 40, PcmFormat(1, 8000, 8));
  EXPECT_FALSE(Decode(Riff(fmt_past_end), &sound));

  // A chunk whose size jumps past the end hides everything after it.
  Bytes jump;
  PutChunkWithSize(&jump, "LIST", 0x7FFFFFF0, Bytes{});
  PutChunk(&jump, "fmt ", PcmFormat(1, 8000, 8));
  PutChunk(&jump, "data", Pcm({1, 2}));
  EXPECT_FALSE(Decode(Riff(jump), &sound));
}

TEST(WaveImageTest, EveryTruncationFailsOrStaysInsideTheImage) {
  Bytes chunks;
  PutChunk(&chunks, "LIST", Pcm({1, 2, 3}));
  PutChunk(&chunks, "fmt ", PcmFormat(2, 44100, 16));
  PutChunk(&chunks, "data", Bytes(16, 0x11));
  const Bytes whole = Riff(chunks);
  const size_t data_body = whole.size() - 16;
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const Bytes part(whole.begin(), whole.begin() + cut);
    bool ok = false;
    const DecodedSound sound = DecodeExact(part, &ok);
    // Only once the data chunk's header is whole does the image load.
    EXPECT_EQ(ok, cut >= data_body) << cut;
    if (ok) {
      EXPECT_EQ(sound.size, cut - data_body);
    }
  }
}

TEST(WaveImageTest, ARiffImageIsNeverOfferedToTheDecoders) {
  static int opened = 0;
  static int marker = 0;
  const SoundDecoder greedy{
      [](const SoundSource&) -> void* {
        ++opened;
        return &marker;
      },
      [](void*, uint8_t*, uint32_t bytes) { return bytes; },
      [](void*) -> uint32_t { return 2; },
      [](void*) -> uint32_t { return 10; },
      [](void*) -> uint32_t { return 44100; },
      [](void*) {}};
  Bytes chunks;
  PutChunk(&chunks, "LIST", Pcm({1, 2}));
  DecodedSound sound;
  opened = 0;
  EXPECT_FALSE(Decode(Riff(chunks), &sound, {greedy}));
  EXPECT_EQ(opened, 0);
  // Not RIFF: the decoder decides.
  EXPECT_TRUE(Decode(Pcm({'R', 'I', 'F'}), &sound, {greedy}));
  EXPECT_EQ(opened, 1);
}

TEST(WaveImageTest, EmptyAndForeignImagesFail) {
  DecodedSound sound;
  EXPECT_FALSE(Decode(Bytes{}, &sound));
  EXPECT_FALSE(DecodeSoundData(nullptr, 10, {}, &sound));
  EXPECT_FALSE(Decode(Pcm({'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}), &sound));
}

TEST(WaveImageTest, DataPastTheCapIsCutInWholeSampleFrames) {
  // 24-bit stereo: six-byte frames, and the cap is not a multiple of six.
  Bytes chunks;
  PutChunk(&chunks, "fmt ", PcmFormat(2, 44100, 24));
  PutChunk(&chunks, "data", Bytes(kMaxDecodedBytes + 3, 0x5A));
  const Bytes image = Riff(chunks);
  DecodedSound sound;
  ASSERT_TRUE(Decode(image, &sound));
  EXPECT_EQ(sound.size, kMaxDecodedBytes - kMaxDecodedBytes % 6);
  EXPECT_EQ(sound.data, image.data() + 44);
}

// A WAV file that is not in memory: its first bytes as given, then zeros, up
// to `size`; counts what is read of it.
struct VirtualFile {
  Bytes head;
  uint64_t size = 0;
  uint64_t bytes_read = 0;

  bool Read(uint64_t offset, uint8_t* to, uint32_t bytes) {
    if (offset > size || bytes > size - offset) return false;
    bytes_read += bytes;
    for (uint32_t i = 0; i < bytes; ++i) {
      to[i] = offset + i < head.size() ? head[offset + i] : 0;
    }
    return true;
  }
  WaveFileReader Reader() {
    return [this](uint64_t offset, uint8_t* to, uint32_t bytes) {
      return Read(offset, to, bytes);
    };
  }
};

TEST(WaveFileTest, AHugeFileCostsNoMoreThanTheCapAndItsHeaders) {
  Bytes chunks;
  PutChunk(&chunks, "LIST", Pcm({1, 2, 3}));
  PutChunk(&chunks, "fmt ", PcmFormat(2, 44100, 24));
  PutChunkWithSize(&chunks, "data", 0xFFFFFFF0, Pcm({9, 8, 7, 6, 5, 4}));
  VirtualFile file{Riff(chunks), 3500000000u};
  DecodedSound sound;
  ASSERT_TRUE(ReadWaveFile(file.size, file.Reader(), &sound));
  EXPECT_EQ(sound.format.block_align, 6);
  EXPECT_EQ(sound.size, kMaxDecodedBytes - kMaxDecodedBytes % 6);
  EXPECT_EQ(sound.data, sound.owned.data());
  EXPECT_THAT(Bytes(sound.data, sound.data + 8),
              ElementsAre(9, 8, 7, 6, 5, 4, 0, 0));
  EXPECT_LE(file.bytes_read, sound.size + file.head.size());

  // Endless empty chunks and no format: given up on after a few reads.
  Bytes junk;
  for (int i = 0; i < 10; ++i) PutChunk(&junk, "junk", Bytes{});
  VirtualFile chunky{Riff(junk), 3500000000u};
  EXPECT_FALSE(ReadWaveFile(chunky.size, chunky.Reader(), &sound));
  EXPECT_LE(chunky.bytes_read, 8u * kMaxWaveChunks);
}

// The file reader keeps exactly what the image reader keeps.
TEST(WaveFileTest, ReadsEveryImageAsTheImageReaderDoes) {
  Bytes extensible = testing::FormatBody(kWaveFormatExtensible, 2, 8000, 16);
  PutU16(&extensible, 22);
  extensible.resize(extensible.size() + 30, 7);  // more than the count says
  Bytes chunks;
  PutChunk(&chunks, "LIST", Pcm({1, 2, 3}));
  PutChunk(&chunks, "fmt ", extensible);
  PutChunk(&chunks, "junk", Pcm({4}));
  PutChunkWithSize(&chunks, "data", 40, Bytes(16, 0x11));
  const Bytes whole = Riff(chunks);
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    const Bytes part(whole.begin(), whole.begin() + cut);
    bool image_ok = false;
    const DecodedSound in_memory = DecodeExact(part, &image_ok);
    VirtualFile file{part, part.size()};
    DecodedSound from_file;
    const bool file_ok =
        IsRiffImage(part.data(), static_cast<uint32_t>(part.size())) &&
        ReadWaveFile(file.size, file.Reader(), &from_file);
    ASSERT_EQ(file_ok, image_ok) << cut;
    if (!image_ok) continue;
    EXPECT_EQ(from_file.format.extra, in_memory.format.extra) << cut;
    EXPECT_EQ(from_file.format.block_align, in_memory.format.block_align);
    EXPECT_EQ(Bytes(from_file.data, from_file.data + from_file.size),
              Bytes(in_memory.owned.begin(), in_memory.owned.end()))
        << cut;
  }
}

// A decoder over a script: how many frames it claims and how many bytes it
// really writes (a ramp 1, 2, 3, ...), called in steps.
struct Script {
  uint32_t channels = 2;
  uint32_t length = 0;
  uint64_t bytes_available = 0;
  uint64_t bytes_given = 0;
  int decode_calls = 0;
  int closes = 0;
};
Script script;

const SoundDecoder kScripted{
    [](const SoundSource&) -> void* { return &script; },
    [](void*, uint8_t* out, uint32_t bytes) -> uint32_t {
      ++script.decode_calls;
      const uint64_t left = script.bytes_available - script.bytes_given;
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bytes, left));
      for (uint32_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(script.bytes_given + i + 1);
      }
      script.bytes_given += n;
      return n;
    },
    [](void*) { return script.channels; },
    [](void*) { return script.length; },
    [](void*) -> uint32_t { return 32000; },
    [](void*) { ++script.closes; }};

const SoundDecoder kRefusing{
    [](const SoundSource&) -> void* { return nullptr; },
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr};

class WholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { script = Script{}; }
  bool Run(DecodedSound* out) {
    return Decode(Pcm({'x'}), out, {kRefusing, kScripted});
  }
};

TEST_F(WholeFileTest, MakesSixteenBitPcmOfTheReportedLength) {
  script.channels = 2;
  script.length = 5;
  script.bytes_available = 1000;
  DecodedSound sound;
  ASSERT_TRUE(Run(&sound));
  EXPECT_EQ(sound.format.format_tag, kWaveFormatPcm);
  EXPECT_EQ(sound.format.channels, 2);
  EXPECT_EQ(sound.format.samples_per_sec, 32000u);
  EXPECT_EQ(sound.format.avg_bytes_per_sec, 128000u);
  EXPECT_EQ(sound.format.block_align, 4);
  EXPECT_EQ(sound.format.bits_per_sample, 16);
  EXPECT_EQ(sound.size, 20u);
  EXPECT_EQ(sound.data, sound.owned.data());
  EXPECT_EQ(sound.data[19], 20);
  EXPECT_EQ(script.decode_calls, 1);
  EXPECT_EQ(script.closes, 1);
}

// A length that claims more than the data holds: the sound ends where the
// decoded data ends, in whole sample frames, so that its loop is as long.
TEST_F(WholeFileTest, AShortDecodeIsAsLongAsWhatDecoded) {
  script.channels = 1;
  script.length = 6;
  script.bytes_available = 5;
  DecodedSound sound;
  ASSERT_TRUE(Run(&sound));
  EXPECT_THAT(sound.owned, ElementsAre(1, 2, 3, 4));
  EXPECT_EQ(sound.size, 4u);
}

TEST_F(WholeFileTest, IsCutAtTheCapInWholeSampleFrames) {
  script.channels = 2;
  script.length = 0xFFFFFFFF;
  script.bytes_available = UINT64_MAX;
  DecodedSound sound;
  ASSERT_TRUE(Run(&sound));
  EXPECT_EQ(sound.size, kMaxDecodedBytes);

  SetUp();
  script.channels = 3;
  script.length = 20000000;
  script.bytes_available = UINT64_MAX;
  ASSERT_TRUE(Run(&sound));
  EXPECT_EQ(sound.size, kMaxDecodedBytes - kMaxDecodedBytes % 6);
}

TEST_F(WholeFileTest, AnUnknownLengthGrowsToWhatTheDecoderGives) {
  script.channels = 2;
  script.length = 0;
  script.bytes_available = 3000001;  // not a whole sample frame
  DecodedSound sound;
  ASSERT_TRUE(Run(&sound));
  EXPECT_EQ(sound.size, 3000000u);
  EXPECT_EQ(sound.data[2999999], static_cast<uint8_t>(3000000));
  EXPECT_EQ(script.closes, 1);

  SetUp();
  script.length = 0;
  script.bytes_available = UINT64_MAX;
  ASSERT_TRUE(Run(&sound));
  EXPECT_EQ(sound.size, kMaxDecodedBytes);

  SetUp();
  script.length = 0;
  script.bytes_available = 0;
  ASSERT_TRUE(Run(&sound));
  EXPECT_EQ(sound.size, 0u);
}

TEST_F(WholeFileTest, NoChannelsFailsAndStillCloses) {
  script.channels = 0;
  script.length = 10;
  DecodedSound sound;
  EXPECT_FALSE(Run(&sound));
  EXPECT_EQ(script.closes, 1);
  EXPECT_EQ(sound.size, 0u);
}

}  // namespace
}  // namespace veska
