#include "audio_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

namespace veska::e2e {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

float DecodeSample(const uint8_t* p, uint16_t format, int bits) {
  if (format == kFormatFloat) {
    if (bits == 32) {
      float f;
      uint32_t u = Le32(p);
      std::memcpy(&f, &u, sizeof f);
      return f;
    }
    uint64_t u = Le32(p) | (uint64_t{Le32(p + 4)} << 32);
    double d;
    std::memcpy(&d, &u, sizeof d);
    return static_cast<float>(d);
  }
  switch (bits) {
    case 8:
      return (p[0] - 128) / 128.0f;
    case 16:
      return static_cast<int16_t>(Le16(p)) / 32768.0f;
    case 24: {
      int32_t v = static_cast<int32_t>((p[0] << 8) | (p[1] << 16) |
                                       (uint32_t{p[2]} << 24)) >>
                  8;
      return v / 8388608.0f;
    }
    default:
      return static_cast<float>(static_cast<int32_t>(Le32(p)) / 2147483648.0);
  }
}

void Fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t k = 0; k < len / 2; ++k) {
        const auto u = a[i + k];
        const auto v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

}  // namespace

int64_t Recording::Frames() const {
  return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0;
}

double Recording::Seconds() const {
  return rate > 0 ? static_cast<double>(Frames()) / rate : 0.0;
}

bool ParseWav(std::span<const uint8_t> bytes, Recording* out,
              std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return fail("not a RIFF/WAVE file");
  }
  uint16_t format = 0;
  int channels = 0;
  int rate = 0;
  int bits = 0;
  size_t block = 0;
  bool have_format = false;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint8_t* chunk = bytes.data() + pos;
    const size_t body = pos + 8;
    const size_t size = std::min<size_t>(Le32(chunk + 4), bytes.size() - body);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16) return fail("format chunk too short");
      const uint8_t* f = chunk + 8;
      format = Le16(f);
      channels = Le16(f + 2);
      rate = static_cast<int>(Le32(f + 4));
      block = Le16(f + 12);
      bits = Le16(f + 14);
      if (format == kFormatExtensible) {
        if (size < 26) return fail("extensible format chunk too short");
        format = Le16(f + 24);
      }
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) return fail("data before format");
      if (format != kFormatPcm && format != kFormatFloat) {
        return fail("unsupported sample encoding");
      }
      const bool bits_ok = format == kFormatFloat ? (bits == 32 || bits == 64)
                                                  : (bits == 8 || bits == 16 ||
                                                     bits == 24 || bits == 32);
      if (!bits_ok) return fail("unsupported sample size");
      if (channels < 1 || channels > 64 || rate <= 0) {
        return fail("bad channel count or rate");
      }
      const size_t sample_bytes = static_cast<size_t>(bits) / 8;
      const size_t frame_bytes = sample_bytes * channels;
      if (block < frame_bytes) block = frame_bytes;
      const size_t frames = size / block;
      out->rate = rate;
      out->channels = channels;
      out->samples.clear();
      out->samples.reserve(frames * channels);
      for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = chunk + 8 + i * block;
        for (int c = 0; c < channels; ++c) {
          out->samples.push_back(
              DecodeSample(frame + c * sample_bytes, format, bits));
        }
      }
      return true;
    }
    pos = body + size + (size & 1);
  }
  return fail(have_format ? "no data chunk" : "no format chunk");
}

bool ReadWavFile(const std::string& path, Recording* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  return ParseWav(bytes, out, error);
}

FrameRange Window(const Recording& rec, double from_s, double to_s) {
  const int64_t frames = rec.Frames();
  auto at = [&](double s) {
    const double f = std::floor(s * rec.rate);
    if (!(f > 0)) return int64_t{0};
    return f >= static_cast<double>(frames) ? frames : static_cast<int64_t>(f);
  };
  FrameRange range{at(from_s), to_s < 0 ? frames : at(to_s)};
  if (range.end < range.begin) range.end = range.begin;
  return range;
}

double ChannelRms(const Recording& rec, int channel, FrameRange range) {
  if (channel < 0 || channel >= rec.channels || range.end <= range.begin) {
    return 0.0;
  }
  double sum = 0.0;
  for (int64_t i = range.begin; i < range.end; ++i) {
    const double v = rec.samples[i * rec.channels + channel];
    sum += v * v;
  }
  return std::sqrt(sum / static_cast<double>(range.end - range.begin));
}

double DominantPitch(const Recording& rec, FrameRange range, double lowest_hz) {
  // A window shorter than a few periods of the lowest pitch we look for
  // gives no trustworthy peak.
  constexpr double kSilentRms = 1e-4;
  const int64_t n = range.end - range.begin;
  if (rec.rate <= 0 || !(lowest_hz > 0) ||
      n < static_cast<int64_t>(rec.rate * 4 / lowest_hz)) {
    return 0.0;
  }
  double loudness = 0.0;
  for (int c = 0; c < rec.channels; ++c) {
    loudness = std::max(loudness, ChannelRms(rec, c, range));
  }
  if (loudness < kSilentRms) return 0.0;

  // Zero padding to at least twice the window keeps the peak well sampled;
  // the Hann taper keeps a loud tone from leaking over a quiet one.
  size_t size = 1;
  while (size < static_cast<size_t>(n) * 2) size <<= 1;
  std::vector<std::complex<double>> spectrum(size);
  for (int64_t i = 0; i < n; ++i) {
    double mix = 0.0;
    for (int c = 0; c < rec.channels; ++c) {
      mix += rec.samples[(range.begin + i) * rec.channels + c];
    }
    const double taper =
        0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                             static_cast<double>(n - 1));
    spectrum[i] = mix * taper;
  }
  Fft(spectrum);

  const double bin_hz = static_cast<double>(rec.rate) / size;
  const size_t first = std::max<size_t>(1, std::ceil(lowest_hz / bin_hz));
  size_t peak = first;
  for (size_t k = first; k < size / 2; ++k) {
    if (std::norm(spectrum[k]) > std::norm(spectrum[peak])) peak = k;
  }
  double offset = 0.0;
  if (peak > 0 && peak + 1 < size / 2) {
    // Parabola through the log magnitudes of the peak and its neighbours.
    const double a = std::log(std::abs(spectrum[peak - 1]) + 1e-300);
    const double b = std::log(std::abs(spectrum[peak]) + 1e-300);
    const double c = std::log(std::abs(spectrum[peak + 1]) + 1e-300);
    const double denom = a - 2 * b + c;
    if (denom < 0) offset = 0.5 * (a - c) / denom;
  }
  return (static_cast<double>(peak) + offset) * bin_hz;
}

}  // namespace veska::e2e
