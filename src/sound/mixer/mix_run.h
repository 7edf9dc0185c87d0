// How the mixer adds a stretch of one voice to the mix: cubic
// interpolation between frames, computed on vectors that hold one channel of
// four or eight consecutive output frames, so that one instruction serves
// them all. Internal to the mixer.
#ifndef VESKA_SOUND_MIXER_MIX_RUN_H_
#define VESKA_SOUND_MIXER_MIX_RUN_H_

#include <cstdint>
#include <type_traits>

#include "sound/mixer/mix_vectors.h"
#include "sound/mixer/sample_layout.h"

// Processors that may have wider vectors get a second inner loop, chosen
// once per sound when the processor has them.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define VESKA_MIX_WIDE 1
#include <immintrin.h>
#else
#define VESKA_MIX_WIDE 0
#endif

namespace veska::mixer_internal {

// One voice's run in progress: where it reads, where it writes, and its
// gains, for the frames of the run taken a vector at a time and then one by
// one. Every way of finding a vector's points shares it, so each adds the
// same values in the same order.
template <SampleEncoding E, int C, typename V>
struct RunState {
  static constexpr int kSample = BytesOf(E);
  static constexpr int kFrame = kSample * C;
  static constexpr int kLanes = sizeof(V) / sizeof(float);
  // The samples' scale rides on the gains: the same result to the bit.
  static constexpr float kScale = SampleScale<E>();
  using Positions = std::conditional_t<kLanes == 4, Positions2, Positions4>;

  const uint8_t* data;
  uint64_t position;
  uint64_t step;
  float* out;
  float dl;
  float dr;
  V gains_left;
  V gains_right;
  V steps_left;
  V steps_right;
  // See Fractions for which frames each holds.
  Positions positions_a;
  Positions positions_b;
  uint64_t run_step;

  [[gnu::always_inline]] RunState(const uint8_t* data_in, uint64_t position_in,
                                  uint64_t step_in, float* out_in,
                                  float gain_left, float gain_right,
                                  float delta_left, float delta_right)
      : data(data_in),
        position(position_in),
        step(step_in),
        out(out_in),
        dl(delta_left * kScale),
        dr(delta_right * kScale),
        run_step(uint64_t(kLanes) * step_in) {
    const float gl = gain_left * kScale;
    const float gr = gain_right * kScale;
    for (int k = 0; k < kLanes; ++k) {
      gains_left[k] = gl + float(k) * dl;
      gains_right[k] = gr + float(k) * dr;
    }
    steps_left = V{} + float(kLanes) * dl;
    steps_right = V{} + float(kLanes) * dr;
    for (int k = 0; k < kLanes / 2; ++k) {
      const int frame = k % 2 + (k / 2) * 4;
      positions_a[k] = position + uint64_t(frame) * step;
      positions_b[k] = position + uint64_t(frame + 2) * step;
    }
  }

  // Interpolates the next vector of frames from their points and adds it.
  [[gnu::always_inline]] void AddVector(const Points<V>& p) {
    const V t = Fractions(positions_a, positions_b);
    const V left = Cubic(p.left[0], p.left[1], p.left[2], p.left[3], t);
    V right = left;
    if constexpr (C == 2)
      right = Cubic(p.right[0], p.right[1], p.right[2], p.right[3], t);
    AddInterleaved(left * gains_left, right * gains_right, out);
    out += 2 * kLanes;
    gains_left += steps_left;
    gains_right += steps_right;
    positions_a += run_step;
    positions_b += run_step;
    position += run_step;
  }

  // The next vector of frames, each frame's points read where they lie.
  [[gnu::always_inline]] void GatherVector() {
    const uint8_t* frames[kLanes];
    uint64_t at = position;
#pragma GCC unroll 8
    for (int k = 0; k < kLanes; ++k) {
      frames[k] = data + ((at >> 32) - 1) * kFrame;
      at += step;
    }
    Points<V> p;
    GatherPoints<E, C>(frames, &p);
    AddVector(p);
  }

  // The frames left over, one by one; then the gains go back unscaled.
  [[gnu::always_inline]] uint64_t Finish(uint32_t count, float* gain_left,
                                         float* gain_right) {
    float gl = gains_left[0];
    float gr = gains_right[0];
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* p = data + ((position >> 32) - 1) * kFrame;
      const float t = Fraction(position);
      const float left = Cubic(ReadUnscaled<E>(p), ReadUnscaled<E>(p + kFrame),
                               ReadUnscaled<E>(p + 2 * kFrame),
                               ReadUnscaled<E>(p + 3 * kFrame), t);
      float right = left;
      if constexpr (C == 2) {
        const uint8_t* q = p + kSample;
        right = Cubic(ReadUnscaled<E>(q), ReadUnscaled<E>(q + kFrame),
                      ReadUnscaled<E>(q + 2 * kFrame),
                      ReadUnscaled<E>(q + 3 * kFrame), t);
      }
      out[0] += left * gl;
      out[1] += right * gr;
      out += 2;
      gl += dl;
      gr += dr;
      position += step;
    }
    *gain_left = gl / kScale;
    *gain_right = gr / kScale;
    return position;
  }
};

// Adds `count` frames of one voice to `out`, for stretches where all four
// points of every frame lie inside the buffer; returns the new position.
// The gains move by their deltas each frame. V sets how many frames go
// through at once; the frames left over go one by one.
template <SampleEncoding E, int C, typename V>
[[gnu::always_inline]] inline uint64_t MixRunOn(
    const uint8_t* data, uint64_t position, uint64_t step, uint32_t count,
    float* out, float* gain_left, float* gain_right, float delta_left,
    float delta_right) {
  RunState<E, C, V> run(data, position, step, out, *gain_left, *gain_right,
                        delta_left, delta_right);
  constexpr uint32_t kLanes = RunState<E, C, V>::kLanes;
  uint32_t i = 0;
  for (; i + kLanes <= count; i += kLanes) run.GatherVector();
  return run.Finish(count - i, gain_left, gain_right);
}

using MixRunFunction = uint64_t (*)(const uint8_t* data, uint64_t position,
                                    uint64_t step, uint32_t count, float* out,
                                    float* gain_left, float* gain_right,
                                    float delta_left, float delta_right);

// Four frames at a time: what every processor of ours can vectorise.
template <SampleEncoding E, int C>
uint64_t MixRun(const uint8_t* data, uint64_t position, uint64_t step,
                uint32_t count, float* out, float* gain_left, float* gain_right,
                float delta_left, float delta_right) {
  return MixRunOn<E, C, Lanes4>(data, position, step, count, out, gain_left,
                                gain_right, delta_left, delta_right);
}

#if VESKA_MIX_WIDE
// 16-bit sound played at its rate or slower, eight frames at a time: with
// a step of at most one frame, frame k of eight starts its points o_k <= 7
// frames after the first frame's, so all lie in eleven consecutive frames.
// Four loads of eight frames, starting one frame apart, each permuted by the
// same offsets o_k, are the four points GatherPoints would build, without a
// round trip through memory. Near the run's end, where the eleven frames
// would pass its last point, the frames are gathered as usual. (Casts here
// are built in: a call passing wide vectors between code built for
// different processors is refused by some compilers.)
template <int C>
__attribute__((target("avx2,fma"))) uint64_t MixRunWindowed(
    const uint8_t* data, uint64_t position, uint64_t step, uint32_t count,
    float* out, float* gain_left, float* gain_right, float delta_left,
    float delta_right) {
  RunState<SampleEncoding::kSigned16, C, Lanes8> run(data, position, step, out,
                                                     *gain_left, *gain_right,
                                                     delta_left, delta_right);
  uint32_t i = 0;
  if (count >= 8) {
    // The last frame whose points the run may read is two after this.
    const uint64_t last = (position + uint64_t(count - 1) * step) >> 32;
    for (; i + 8 <= count && (run.position >> 32) + 7 <= last; i += 8) {
      const uint32_t first = uint32_t(run.position >> 32);
      const uint8_t* window = data + (uint64_t(first) - 1) * 2 * C;
      const Words8 indices =
          __builtin_shufflevector(__builtin_bit_cast(Words8, run.positions_a),
                                  __builtin_bit_cast(Words8, run.positions_b),
                                  1, 3, 9, 11, 5, 7, 13, 15);
      const __m256i offsets = __builtin_bit_cast(__m256i, indices - first);
      Points<Lanes8> p;
      if constexpr (C == 2) {
        Words8 columns[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
          const __m256i frames = _mm256_loadu_si256(
              reinterpret_cast<const __m256i*>(window + 4 * j));
          columns[j] = __builtin_bit_cast(
              Words8, _mm256_permutevar8x32_epi32(frames, offsets));
        }
        SplitStereo16(columns, &p);
      } else {
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
          const __m256i samples = _mm256_cvtepi16_epi32(_mm_loadu_si128(
              reinterpret_cast<const __m128i*>(window + 2 * j)));
          p.left[j] = __builtin_convertvector(
              __builtin_bit_cast(Ints8,
                                 _mm256_permutevar8x32_epi32(samples, offsets)),
              Lanes8);
        }
      }
      run.AddVector(p);
    }
  }
  for (; i + 8 <= count; i += 8) run.GatherVector();
  return run.Finish(count - i, gain_left, gain_right);
}

// Eight frames at a time, with fused multiply-adds: only called once the
// processor is known to have them.
template <SampleEncoding E, int C>
__attribute__((target("avx2,fma"))) uint64_t MixRunWide(
    const uint8_t* data, uint64_t position, uint64_t step, uint32_t count,
    float* out, float* gain_left, float* gain_right, float delta_left,
    float delta_right) {
  if constexpr (E == SampleEncoding::kSigned16) {
    if (step <= (uint64_t(1) << 32))
      return MixRunWindowed<C>(data, position, step, count, out, gain_left,
                               gain_right, delta_left, delta_right);
  }
  return MixRunOn<E, C, Lanes8>(data, position, step, count, out, gain_left,
                                gain_right, delta_left, delta_right);
}

inline bool HasWideVectors() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  }();
  return has;
}
#endif

}  // namespace veska::mixer_internal

#endif  // VESKA_SOUND_MIXER_MIX_RUN_H_
