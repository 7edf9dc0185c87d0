// Element files far larger than any sound, on the real file system, with the
// bytes the process reads counted by the kernel.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "encoded_images.h"
#include "recording_sound_device.h"
#include "sound/decoders.h"
#include "sound/sound_engine.h"
#include "temp_folder.h"

namespace veska {
namespace {

namespace fs = std::filesystem;

// Bytes this process has read through system calls so far.
uint64_t BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// A sparse file of `size` bytes that starts with `head`.
void MakeSparse(const fs::path& path, const testing::Bytes& head,
                uint64_t size) {
  testing::WriteFile(path, std::string(head.begin(), head.end()));
  fs::resize_file(path, size);
}

TEST(LargeElementTest, ThreeGigabytesThatAreNoSoundAreRefusedAfterTheirStart) {
  testing::TempFolder folder;
  const fs::path zeros = folder.path() / "cpu.wav";
  MakeSparse(zeros, {}, 3000000000u);
  const fs::path text = folder.path() / "ram.ogg";
  MakeSparse(text, testing::Bytes(2u << 20, 'x'), 3000000000u);
  // A stream's signature alone earns a longer look, no more.
  const fs::path signed_zeros = folder.path() / "cpu_a.flac";
  MakeSparse(signed_zeros, {'f', 'L', 'a', 'C'}, 3000000000u);

  testing::RecordingSoundDevice device;
  SoundEngine engine(&device, nullptr);
  ASSERT_TRUE(engine.Open());
  engine.RegisterDecoder(OggVorbisDecoder);
  engine.RegisterDecoder(FlacDecoder);
  const uint64_t before = BytesRead();
  EXPECT_EQ(engine.LoadFile(zeros.string()), 0) << "a sound of zeros";
  EXPECT_EQ(engine.LoadFile(text.string()), 0) << "a sound of text";
  EXPECT_LT(BytesRead() - before, 4u << 20) << "read of 6 GB";
  EXPECT_EQ(engine.LoadFile(signed_zeros.string()), 0) << "a signature";
  const uint64_t read = BytesRead() - before;
  EXPECT_LT(read, 40u << 20) << "read " << read << " bytes of 9 GB";
  EXPECT_TRUE(device.Live().empty()) << "a buffer was made for no sound";

  // The same engine loads a real sound, so the refusals above are the files'.
  const std::vector<int32_t> samples = testing::SineFrames(1000, 1, 8000, 16);
  const fs::path flac = folder.path() / "disk.flac";
  const testing::Bytes image = testing::EncodeFlac(samples, 1, 8000, 16);
  testing::WriteFile(flac, std::string(image.begin(), image.end()));
  EXPECT_NE(engine.LoadFile(flac.string()), 0);
}

}  // namespace
}  // namespace veska
