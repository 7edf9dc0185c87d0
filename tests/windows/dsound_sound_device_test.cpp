// The DirectSound device under Wine, with and without a sound server (the
// runner starts this program once for each; what is heard is measured by the
// runner from recordings of veska_dsound_tone).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sound/dsound/dsound_sound_device.h"
#include "sound/sound_engine.h"

namespace veska::testing {
namespace {

WaveFormat Pcm16(uint16_t channels, uint32_t rate) {
  WaveFormat format;
  format.format_tag = kWaveFormatPcm;
  format.channels = channels;
  format.samples_per_sec = rate;
  format.bits_per_sample = 16;
  format.block_align = static_cast<uint16_t>(channels * 2);
  format.avg_bytes_per_sec = rate * format.block_align;
  return format;
}

bool WithSoundServer() {
  const char* mode = std::getenv("VESKA_DSOUND_SERVER");
  return mode != nullptr && std::string(mode) == "yes";
}

TEST(DsoundDevice, OpensWithAHiddenOwnerWindowAndMakesBuffers) {
  if (!WithSoundServer()) GTEST_SKIP() << "needs the sound server";
  DsoundSoundDevice device;
  ASSERT_TRUE(device.Open()) << std::hex << device.LastOpenError();
  const HWND window = static_cast<HWND>(device.Window());
  ASSERT_NE(window, nullptr);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  EXPECT_STREQ(name, L"MultimediaBase Class");
  EXPECT_FALSE(IsWindowVisible(window));

  std::vector<int16_t> samples(4410 * 2, 1000);
  const auto* data = reinterpret_cast<const uint8_t*>(samples.data());
  const uint32_t size = static_cast<uint32_t>(samples.size() * 2);
  EXPECT_EQ(device.CreateBuffer(Pcm16(2, 44100), data, 0), nullptr);
  EXPECT_EQ(device.CreateBuffer(Pcm16(0, 44100), data, size), nullptr);

  auto buffer = device.CreateBuffer(Pcm16(2, 44100), data, size);
  ASSERT_NE(buffer, nullptr);
  uint32_t hz = 0;
  ASSERT_TRUE(buffer->GetFrequency(&hz));
  EXPECT_EQ(hz, 44100u);
  // The edges are allowed; beyond them nothing changes.
  EXPECT_TRUE(buffer->SetFrequency(kMinFrequency));
  EXPECT_TRUE(buffer->SetFrequency(kMaxFrequency));
  EXPECT_FALSE(buffer->SetFrequency(kMinFrequency - 1));
  EXPECT_FALSE(buffer->SetFrequency(kMaxFrequency + 1));
  EXPECT_FALSE(buffer->SetFrequency(0));
  ASSERT_TRUE(buffer->GetFrequency(&hz));
  EXPECT_EQ(hz, kMaxFrequency);
  EXPECT_TRUE(buffer->SetVolume(kVolumeSilent));
  EXPECT_TRUE(buffer->SetPan(kPanLeft));
  EXPECT_TRUE(buffer->SetPan(kPanRight));
  EXPECT_TRUE(buffer->Play(true));
  EXPECT_TRUE(buffer->Stop());
  EXPECT_TRUE(buffer->SetCurrentPosition(0));
  buffer.reset();
  device.Close();
  EXPECT_FALSE(device.IsOpen());
  EXPECT_FALSE(IsWindow(window));
  // Opens again after a close, as a restarted engine would.
  EXPECT_TRUE(device.Open());
}

TEST(DsoundDevice, WithoutASoundServerTheEngineDoesNotOpen) {
  if (WithSoundServer()) GTEST_SKIP() << "needs no sound server";
  DsoundSoundDevice device;
  EXPECT_FALSE(device.Open());
  EXPECT_EQ(static_cast<uint32_t>(device.LastOpenError()), 0x80070057u);
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.Window(), nullptr);
  SoundEngine engine(&device, nullptr);
  EXPECT_FALSE(engine.Open());
}

}  // namespace
}  // namespace veska::testing
