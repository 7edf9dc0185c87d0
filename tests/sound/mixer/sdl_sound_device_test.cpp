#include "sound/sdl/sdl_sound_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace veska {
namespace {

TEST(SdlSoundDevice, PlaysThroughSdlsDummyOutput) {
  ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
  SdlSoundDevice device;
  ASSERT_TRUE(device.Open());
  EXPECT_TRUE(device.Open());  // a second Open keeps the device
  EXPECT_TRUE(device.IsOpen());
  EXPECT_GE(device.Mixer().OutputRate(), SoftwareMixer::kMinOutputRate);

  WaveFormat format;
  format.format_tag = kWaveFormatPcm;
  format.channels = 1;
  format.samples_per_sec = 22050;
  format.bits_per_sample = 16;
  format.block_align = 2;
  std::vector<uint8_t> data(4410, 0x10);
  auto sound = device.CreateBuffer(format, data.data(), uint32_t(data.size()));
  ASSERT_NE(sound, nullptr);
  ASSERT_TRUE(sound->Play(true));

  // The dummy output pulls in real time; wait for a few callbacks.
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (device.Mixer().RenderedFrames() < 4096 &&
         std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(device.Mixer().RenderedFrames(), 4096u);

  sound.reset();
  device.Close();
  EXPECT_FALSE(device.IsOpen());
  device.Close();
}

TEST(SdlSoundDevice, NoOutputMeansOpenFails) {
  ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
  SdlSoundDevice device;
  EXPECT_FALSE(device.Open());
  EXPECT_FALSE(device.IsOpen());
  device.Close();
}

}  // namespace
}  // namespace veska
