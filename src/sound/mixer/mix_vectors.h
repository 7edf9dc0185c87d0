// The inner loop's pieces: vectors that hold one channel of four or eight
// consecutive output frames, stored samples read into them, the cubic
// interpolation on them and their sum into the mix. Internal to the mixer.
#ifndef VESKA_SOUND_MIXER_MIX_VECTORS_H_
#define VESKA_SOUND_MIXER_MIX_VECTORS_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "sound/mixer/sample_layout.h"

namespace veska::mixer_internal {

// Four frames and eight: one channel of each, or the same point (the
// sample before, at, after and two after a position) of each frame.
using Lanes4 = float __attribute__((vector_size(16)));
using Lanes8 = float __attribute__((vector_size(32)));
using Words4 = uint32_t __attribute__((vector_size(16)));
using Words8 = uint32_t __attribute__((vector_size(32)));
using Ints4 = int32_t __attribute__((vector_size(16)));
using Ints8 = int32_t __attribute__((vector_size(32)));
// Positions of two frames and of four.
using Positions2 = uint64_t __attribute__((vector_size(16)));
using Positions4 = uint64_t __attribute__((vector_size(32)));

// Where between two frames a 32.32 position lies, 0 to 1: the top 24 bits
// of the fraction, all a float holds, converted exactly.
inline float Fraction(uint64_t position) {
  return float(int32_t(uint32_t(position) >> 8)) * 0x1p-24f;
}

// The same for frames 0-1 (`a`) and 2-3 (`b`) of four; of eight, frames
// 0-1 and 4-5 in `a`, 2-3 and 6-7 in `b`, which the cheap shuffle puts back
// in order.
[[gnu::always_inline]] inline Lanes4 Fractions(Positions2 a, Positions2 b) {
  const Words4 low = __builtin_shufflevector(
      std::bit_cast<Words4>(a), std::bit_cast<Words4>(b), 0, 2, 4, 6);
  return __builtin_convertvector(std::bit_cast<Ints4>(low >> 8), Lanes4) *
         0x1p-24f;
}

[[gnu::always_inline]] inline Lanes8 Fractions(Positions4 a, Positions4 b) {
  const Words8 low = __builtin_shufflevector(std::bit_cast<Words8>(a),
                                             std::bit_cast<Words8>(b), 0, 2, 8,
                                             10, 4, 6, 12, 14);
  return __builtin_convertvector(std::bit_cast<Ints8>(low >> 8), Lanes8) *
         0x1p-24f;
}

constexpr int BytesOf(SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::kUnsigned8:
      return 1;
    case SampleEncoding::kSigned16:
      return 2;
    case SampleEncoding::kSigned24:
      return 3;
    case SampleEncoding::kSigned32:
    case SampleEncoding::kFloat32:
      return 4;
  }
  return 0;
}

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}

// A sample as read, before it is scaled into -1..1.
template <SampleEncoding E>
inline float ReadUnscaled(const uint8_t* p) {
  if constexpr (E == SampleEncoding::kUnsigned8) {
    return float(p[0]) - 128.0f;
  } else if constexpr (E == SampleEncoding::kSigned16) {
    return float(int16_t(uint16_t(p[0] | (p[1] << 8))));
  } else if constexpr (E == SampleEncoding::kSigned24) {
    return float(int32_t((uint32_t(p[0]) << 8) | (uint32_t(p[1]) << 16) |
                         (uint32_t(p[2]) << 24)) >>
                 8);
  } else if constexpr (E == SampleEncoding::kSigned32) {
    return float(int32_t(LoadLe32(p)));
  } else {
    return std::bit_cast<float>(LoadLe32(p));
  }
}

// Whole powers of two, so that scaling a gain instead of every sample
// changes no bit of the mix.
template <SampleEncoding E>
constexpr float SampleScale() {
  if constexpr (E == SampleEncoding::kUnsigned8) return 1.0f / 128.0f;
  if constexpr (E == SampleEncoding::kSigned16) return 1.0f / 32768.0f;
  if constexpr (E == SampleEncoding::kSigned24) return 1.0f / 8388608.0f;
  if constexpr (E == SampleEncoding::kSigned32) return 1.0f / 2147483648.0f;
  return 1.0f;
}

template <SampleEncoding E>
inline float ReadSample(const uint8_t* p) {
  return ReadUnscaled<E>(p) * SampleScale<E>();
}

// 4-point cubic Hermite through x0 (t = 0) and x1 (t = 1), on floats or on
// vectors of them.
template <typename T>
[[gnu::always_inline]] inline T Cubic(T xm1, T x0, T x1, T x2, T t) {
  const T c1 = 0.5f * (x1 - xm1);
  const T c2 = xm1 - 2.5f * x0 + 2.0f * x1 - 0.5f * x2;
  const T c3 = 0.5f * (x2 - xm1) + 1.5f * (x0 - x1);
  return ((c3 * t + c2) * t + c1) * t + x0;
}

// Rows of four (one frame's four points, say) into columns of four (one
// point of four frames). With eight lanes, each half is turned on its own.
template <typename T>
[[gnu::always_inline]] inline void Transpose(const T* rows, T* columns) {
  if constexpr (sizeof(T) == 16) {
    const T ab_low = __builtin_shufflevector(rows[0], rows[1], 0, 4, 1, 5);
    const T ab_high = __builtin_shufflevector(rows[0], rows[1], 2, 6, 3, 7);
    const T cd_low = __builtin_shufflevector(rows[2], rows[3], 0, 4, 1, 5);
    const T cd_high = __builtin_shufflevector(rows[2], rows[3], 2, 6, 3, 7);
    columns[0] = __builtin_shufflevector(ab_low, cd_low, 0, 1, 4, 5);
    columns[1] = __builtin_shufflevector(ab_low, cd_low, 2, 3, 6, 7);
    columns[2] = __builtin_shufflevector(ab_high, cd_high, 0, 1, 4, 5);
    columns[3] = __builtin_shufflevector(ab_high, cd_high, 2, 3, 6, 7);
  } else {
    const T ab_low =
        __builtin_shufflevector(rows[0], rows[1], 0, 8, 1, 9, 4, 12, 5, 13);
    const T ab_high =
        __builtin_shufflevector(rows[0], rows[1], 2, 10, 3, 11, 6, 14, 7, 15);
    const T cd_low =
        __builtin_shufflevector(rows[2], rows[3], 0, 8, 1, 9, 4, 12, 5, 13);
    const T cd_high =
        __builtin_shufflevector(rows[2], rows[3], 2, 10, 3, 11, 6, 14, 7, 15);
    columns[0] =
        __builtin_shufflevector(ab_low, cd_low, 0, 1, 8, 9, 4, 5, 12, 13);
    columns[1] =
        __builtin_shufflevector(ab_low, cd_low, 2, 3, 10, 11, 6, 7, 14, 15);
    columns[2] =
        __builtin_shufflevector(ab_high, cd_high, 0, 1, 8, 9, 4, 5, 12, 13);
    columns[3] =
        __builtin_shufflevector(ab_high, cd_high, 2, 3, 10, 11, 6, 7, 14, 15);
  }
}

// The four points around each of a run of frames, unscaled, one vector per
// point and channel; `frames[k]` is where frame k's first point starts.
template <typename V>
struct Points {
  V left[4];
  V right[4];
};

// The signed 16-bit halves of 32-bit words, as floats.
template <typename V, typename Words>
[[gnu::always_inline]] inline V LowHalves(Words words) {
  using Ints = std::conditional_t<sizeof(V) == 16, Ints4, Ints8>;
  return __builtin_convertvector(std::bit_cast<Ints>(words << 16) >> 16, V);
}

template <typename V, typename Words>
[[gnu::always_inline]] inline V HighHalves(Words words) {
  using Ints = std::conditional_t<sizeof(V) == 16, Ints4, Ints8>;
  return __builtin_convertvector(std::bit_cast<Ints>(words) >> 16, V);
}

// Columns of 32-bit words, each a 16-bit stereo frame (left in the low
// half, as read little-endian everywhere this program runs), into points.
template <typename Words, typename V>
[[gnu::always_inline]] inline void SplitStereo16(const Words* columns,
                                                 Points<V>* points) {
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    points->left[j] = LowHalves<V>(columns[j]);
    points->right[j] = HighHalves<V>(columns[j]);
  }
}

// The sample at `offset` in each frame, one per lane.
template <SampleEncoding E, typename V, size_t... kLane>
[[gnu::always_inline]] inline V ReadLanes(const uint8_t* const* frames,
                                          int offset,
                                          std::index_sequence<kLane...>) {
  return V{ReadUnscaled<E>(frames[kLane] + offset)...};
}

template <SampleEncoding E, int C, typename V>
[[gnu::always_inline]] inline void GatherPoints(const uint8_t* const* frames,
                                                Points<V>* points) {
  constexpr int kSample = BytesOf(E);
  constexpr int kFrame = kSample * C;
  constexpr int kLanes = sizeof(V) / sizeof(float);
  if constexpr (E == SampleEncoding::kSigned16 && C == 2) {
    // A 32-bit word holds a frame's left and right: turn the words, then
    // split them. Rows of eight lanes hold frames k and k + 4.
    using Words = std::conditional_t<kLanes == 4, Words4, Words8>;
    Words rows[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
      Words4 row;
      std::memcpy(&row, frames[k], sizeof row);
      if constexpr (kLanes == 4) {
        rows[k] = row;
      } else {
        Words4 later;
        std::memcpy(&later, frames[k + 4], sizeof later);
        rows[k] = __builtin_shufflevector(row, later, 0, 1, 2, 3, 4, 5, 6, 7);
      }
    }
    Words columns[4];
    Transpose(rows, columns);
    SplitStereo16(columns, points);
  } else if constexpr (E == SampleEncoding::kSigned16 && C == 1) {
    // A frame's four points are 8 consecutive bytes: one 64-bit word each,
    // ordered as Fractions orders positions, whose 32-bit halves the same
    // shuffle sorts into points 0-1 and points 2-3 of every frame.
    using Quads = std::conditional_t<kLanes == 4, Positions2, Positions4>;
    using Words = std::conditional_t<kLanes == 4, Words4, Words8>;
    Quads a;
    Quads b;
#pragma GCC unroll 4
    for (int k = 0; k < kLanes / 2; ++k) {
      const int frame = k % 2 + (k / 2) * 4;
      uint64_t quad;
      std::memcpy(&quad, frames[frame], sizeof quad);
      a[k] = quad;
      std::memcpy(&quad, frames[frame + 2], sizeof quad);
      b[k] = quad;
    }
    const Words wa = std::bit_cast<Words>(a);
    const Words wb = std::bit_cast<Words>(b);
    Words pairs[2];
    if constexpr (kLanes == 4) {
      pairs[0] = __builtin_shufflevector(wa, wb, 0, 2, 4, 6);
      pairs[1] = __builtin_shufflevector(wa, wb, 1, 3, 5, 7);
    } else {
      pairs[0] = __builtin_shufflevector(wa, wb, 0, 2, 8, 10, 4, 6, 12, 14);
      pairs[1] = __builtin_shufflevector(wa, wb, 1, 3, 9, 11, 5, 7, 13, 15);
    }
#pragma GCC unroll 2
    for (int j = 0; j < 2; ++j) {
      points->left[2 * j] = LowHalves<V>(pairs[j]);
      points->left[2 * j + 1] = HighHalves<V>(pairs[j]);
    }
  } else {
    // The other layouts are read one sample at a time, straight into the
    // lanes: through an array, each vector would wait on its lanes' stores.
    constexpr auto kEach = std::make_index_sequence<kLanes>();
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
      points->left[j] = ReadLanes<E, V>(frames, j * kFrame, kEach);
      if constexpr (C == 2)
        points->right[j] = ReadLanes<E, V>(frames, j * kFrame + kSample, kEach);
    }
  }
}

// Adds a run of frames, left and right apart, to interleaved `out`.
[[gnu::always_inline]] inline void AddInterleaved(Lanes4 left, Lanes4 right,
                                                  float* out) {
  Lanes4 first;
  Lanes4 second;
  std::memcpy(&first, out, sizeof first);
  std::memcpy(&second, out + 4, sizeof second);
  first += __builtin_shufflevector(left, right, 0, 4, 1, 5);
  second += __builtin_shufflevector(left, right, 2, 6, 3, 7);
  std::memcpy(out, &first, sizeof first);
  std::memcpy(out + 4, &second, sizeof second);
}

[[gnu::always_inline]] inline void AddInterleaved(Lanes8 left, Lanes8 right,
                                                  float* out) {
  Lanes8 first;
  Lanes8 second;
  std::memcpy(&first, out, sizeof first);
  std::memcpy(&second, out + 8, sizeof second);
  first += __builtin_shufflevector(left, right, 0, 8, 1, 9, 2, 10, 3, 11);
  second += __builtin_shufflevector(left, right, 4, 12, 5, 13, 6, 14, 7, 15);
  std::memcpy(out, &first, sizeof first);
  std::memcpy(out + 8, &second, sizeof second);
}

}  // namespace veska::mixer_internal

#endif  // VESKA_SOUND_MIXER_MIX_VECTORS_H_
