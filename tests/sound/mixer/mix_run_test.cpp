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

}  // namespace
}  // namespace veska::mixer_internal
