#include "sound/linux/linux_sound_device.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "scoped_env.h"
#include "sound/linux/pulse_output.h"
#include "temp_folder.h"

namespace veska {
namespace {

TEST(LinuxSoundDevice, PlaysThroughSdlsDummyOutput) {
  ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
  LinuxSoundDevice device;
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

TEST(LinuxSoundDevice, NoOutputMeansOpenFails) {
  ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
  LinuxSoundDevice device;
  EXPECT_FALSE(device.Open());
  EXPECT_FALSE(device.IsOpen());
  device.Close();
}

// A server that takes the connection and never answers (stopped, or hung)
// must not hold the program's start or the keeper's reopening.
TEST(PulseOutput, GivesUpOnAServerThatNeverAnswersOrIsNotThere) {
  testing::TempFolder folder;
  const std::string path = (folder.path() / "socket").string();
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);

  SoftwareMixer mixer;
  for (const std::string& server : {"unix:" + path, "unix:" + path + "-none"}) {
    testing::ScopedEnv env("PULSE_SERVER", server.c_str());
    PulseOutput output;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(output.Open(mixer, "VESKA", std::chrono::milliseconds(300)))
        << server;
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(10))
        << server;
    EXPECT_FALSE(output.Playing());
    output.Close();
  }
  close(listener);
}

}  // namespace
}  // namespace veska
