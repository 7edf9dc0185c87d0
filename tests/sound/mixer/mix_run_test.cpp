#include "sound/mixer/mix_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace veska::mixer_internal {
namespace {

struct Run {
  std::vector<float> out;
  uint64_t position;
  float gain_left;
  float gain_right;
};

// 61 frames of an uneven wave in every byte of the layout, mixed from
// frame 1.25 on at 0.77 frames a step while both gains ramp, over 53 output
// frames: whole vectors and a remainder.
template <SampleEncoding E, int C>
Run Mix(MixRunFunction run, bool one_frame_at_a_time) {
  std::vector<uint8_t> data(61 * BytesOf(E) * C);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 37 + i / 7);
  if constexpr (E == SampleEncoding::kFloat32) {
    for (size_t i = 0; i + 4 <= data.size(); i += 4) {
      const float v = std::sin(float(i));
      std::memcpy(&data[i], &v, 4);
    }
  }
  Run r{std::vector<float>(2 * 53, 0.25f), (uint64_t(5) << 30), 0.5f, 0.9f};
  const uint64_t step = 3307124817u;  // 0.77 frames
  const uint32_t steps = one_frame_at_a_time ? 53 : 1;
  for (uint32_t i = 0; i < steps; ++i) {
    const uint32_t count = one_frame_at_a_time ? 1 : 53;
    r.position = run(data.data(), r.position, step, count, &r.out[2 * i],
                     &r.gain_left, &r.gain_right, 0.004f, -0.003f);
  }
  return r;
}

// Every layout mixed a run at a time, on every vector width this processor
// has, gives what the same layout gives one frame at a time.
template <SampleEncoding E, int C>
void ExpectRunsMatchSingleFrames() {
  SCOPED_TRACE(testing::Message()
               << "encoding " << int(E) << ", " << C << " channel(s)");
  const Run expected = Mix<E, C>(&MixRun<E, C>, true);
  std::vector<MixRunFunction> runs = {&MixRun<E, C>};
#if VESKA_MIX_WIDE
  if (HasWideVectors()) runs.push_back(&MixRunWide<E, C>);
#endif
  for (MixRunFunction run : runs) {
    const Run got = Mix<E, C>(run, false);
    EXPECT_EQ(got.position, expected.position);
    EXPECT_NEAR(got.gain_left, expected.gain_left, 1e-5f);
    EXPECT_NEAR(got.gain_right, expected.gain_right, 1e-5f);
    for (size_t i = 0; i < got.out.size(); ++i)
      ASSERT_NEAR(got.out[i], expected.out[i], 2e-5f) << "sample " << i;
  }
}

TEST(MixRun, EveryLayoutAndWidthMatchesFrameByFrame) {
  ExpectRunsMatchSingleFrames<SampleEncoding::kUnsigned8, 1>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kUnsigned8, 2>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kSigned16, 1>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kSigned16, 2>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kSigned24, 1>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kSigned24, 2>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kSigned32, 1>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kSigned32, 2>();
  ExpectRunsMatchSingleFrames<SampleEncoding::kFloat32, 2>();
}

// 16-bit voices played slower and faster than their rate, each run as
// long as it may be: its last frame's last point is the buffer's last
// frame, and the buffer ends there, so a read past it fails the sanitized
// build. Mixed frame by frame they give the same; four at a time, to the
// bit (wider vectors fuse multiply-adds, so there rounding may differ).
template <int C>
void ExpectRunsToTheEnd() {
  constexpr uint64_t kOne = uint64_t(1) << 32;
  constexpr uint32_t kFrames = 40;
  std::vector<uint8_t> data(kFrames * 2 * C);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 53 + i / 5);
  const MixRunFunction narrow = &MixRun<SampleEncoding::kSigned16, C>;
  std::vector<MixRunFunction> runs = {narrow};
#if VESKA_MIX_WIDE
  if (HasWideVectors())
    runs.push_back(&MixRunWide<SampleEncoding::kSigned16, C>);
#endif
  // One frame, just under it, 0.77, 22.05 kHz at 48 kHz, 0.01, 1.5, 2.75.
  for (uint64_t step :
       {kOne, kOne - 1, uint64_t(3307124817u), uint64_t(1973051699u),
        uint64_t(42949673u), 3 * kOne / 2, 11 * kOne / 4}) {
    for (uint64_t start : {kOne, kOne + (kOne >> 2) + 7, 2 * kOne - 1}) {
      SCOPED_TRACE(testing::Message()
                   << C << " channel(s), step " << step << ", start " << start);
      const uint64_t end = uint64_t(kFrames - 2) << 32;
      const auto count = uint32_t((end - 1 - start) / step + 1);
      std::vector<float> single(2 * count, 0.5f);
      float gains[2] = {0.7f, 0.3f};
      uint64_t position = start;
      for (uint32_t i = 0; i < count; ++i)
        position = narrow(data.data(), position, step, 1, &single[2 * i],
                          &gains[0], &gains[1], 0.0f, 0.0f);
      for (MixRunFunction run : runs) {
        std::vector<float> whole(2 * count, 0.5f);
        EXPECT_EQ(run(data.data(), start, step, count, whole.data(), &gains[0],
                      &gains[1], 0.0f, 0.0f),
                  position);
        if (run == narrow) {
          EXPECT_EQ(whole, single);
          continue;
        }
        for (size_t i = 0; i < whole.size(); ++i)
          ASSERT_NEAR(whole[i], single[i], 2e-5f) << "sample " << i;
      }
    }
  }
}

TEST(MixRun, SixteenBitRunsMatchFrameByFrameUpToTheBufferEnd) {
  ExpectRunsToTheEnd<1>();
  ExpectRunsToTheEnd<2>();
}

}  // namespace
}  // namespace veska::mixer_internal
