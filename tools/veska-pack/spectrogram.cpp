#include "spectrogram.h"

#include <fftw3.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace veska::pack {
namespace {

constexpr int kWindow = 4096;
constexpr int kHeight = 320;
constexpr int kStrip = 10;  // the phase band above the picture
constexpr double kLowestHz = 40;
constexpr double kHighestHz = 16000;
constexpr double kColumnsPerSecond = 20;
constexpr double kFloorDb = -100;

using Rgb = std::array<uint8_t, 3>;

// Dark blue through purple and orange to pale yellow.
Rgb Heat(double x) {
  static constexpr std::array<std::array<double, 3>, 5> stops = {
      {{8, 8, 24},
       {60, 20, 110},
       {180, 40, 90},
       {245, 140, 30},
       {255, 250, 200}}};
  x = std::clamp(x, 0.0, 1.0) * (stops.size() - 1);
  const std::size_t i = std::min<std::size_t>(std::size_t(x), stops.size() - 2);
  const double f = x - double(i);
  Rgb out;
  for (int c = 0; c < 3; ++c) {
    out[c] = uint8_t(stops[i][c] + (stops[i + 1][c] - stops[i][c]) * f);
  }
  return out;
}

struct FftwPlan {
  float* in = fftwf_alloc_real(kWindow);
  fftwf_complex* out = fftwf_alloc_complex(kWindow / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(kWindow, in, out, FFTW_ESTIMATE);
  ~FftwPlan() {
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
  }
};

// Levels in dB of each column, kHeight rows from the top (highest pitch).
std::vector<float> Columns(const Preview& p, int columns) {
  std::vector<float> db(size_t(columns) * kHeight, float(kFloorDb));
  FftwPlan fft;
  std::vector<float> window(kWindow);
  double window_sum = 0;
  for (int i = 0; i < kWindow; ++i) {
    window[i] =
        float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (kWindow - 1)));
    window_sum += window[i];
  }
  const std::size_t frames = p.stereo.size() / 2;
  std::vector<double> power(kWindow / 2 + 1);
  for (int c = 0; c < columns; ++c) {
    const auto centre =
        static_cast<long long>((c + 0.5) * p.rate / kColumnsPerSecond);
    for (int i = 0; i < kWindow; ++i) {
      const long long f = centre - kWindow / 2 + i;
      const float mono = f < 0 || std::size_t(f) >= frames
                             ? 0.0f
                             : 0.5f * (p.stereo[2 * f] + p.stereo[2 * f + 1]);
      fft.in[i] = mono * window[i];
    }
    fftwf_execute(fft.plan);
    for (int k = 0; k <= kWindow / 2; ++k) {
      power[k] = double(fft.out[k][0]) * fft.out[k][0] +
                 double(fft.out[k][1]) * fft.out[k][1];
    }
    const double hz_per_bin = double(p.rate) / kWindow;
    for (int row = 0; row < kHeight; ++row) {
      const auto hz = [&](int r) {
        return kLowestHz *
               std::pow(kHighestHz / kLowestHz, double(kHeight - r) / kHeight);
      };
      int lo = int(hz(row + 1) / hz_per_bin);
      int hi = std::max(lo, int(hz(row) / hz_per_bin));
      hi = std::min(hi, kWindow / 2);
      double peak = 0;
      for (int k = lo; k <= hi; ++k) peak = std::max(peak, power[k]);
      // A full-scale sine reads 0 dB.
      const double amplitude = 2 * std::sqrt(peak) / window_sum;
      db[size_t(c) * kHeight + row] =
          float(std::max(kFloorDb, 20 * std::log10(amplitude + 1e-12)));
    }
  }
  return db;
}

}  // namespace

bool WriteSpectrogramPng(const Preview& preview,
                         const std::vector<double>& phase_starts,
                         const std::string& path, std::string* error) {
  const double seconds =
      preview.rate ? preview.stereo.size() / 2.0 / preview.rate : 0;
  const int columns = std::max(1, int(std::ceil(seconds * kColumnsPerSecond)));
  const std::vector<float> db = Columns(preview, columns);
  const int height = kHeight + kStrip;
  std::vector<uint8_t> image(size_t(columns) * height * 3);
  const auto put = [&](int x, int y, Rgb rgb) {
    std::copy(rgb.begin(), rgb.end(),
              image.begin() + (size_t(y) * columns + x) * 3);
  };
  std::vector<int> boundary(columns, -1);
  for (std::size_t i = 0; i < phase_starts.size(); ++i) {
    const int x = int(std::lround(phase_starts[i] * kColumnsPerSecond));
    if (x >= 0 && x < columns) boundary[x] = int(i);
  }
  int phase = 0;
  for (int x = 0; x < columns; ++x) {
    if (boundary[x] >= 0) phase = boundary[x];
    const Rgb band = phase % 2 ? Rgb{90, 170, 190} : Rgb{230, 230, 230};
    for (int y = 0; y < kStrip; ++y) put(x, y, band);
    for (int y = 0; y < kHeight; ++y) {
      const double level = db[size_t(x) * kHeight + y];
      put(x, kStrip + y, Heat((level - kFloorDb) / -kFloorDb));
    }
    if (boundary[x] > 0) {
      for (int y = 0; y < height; ++y) put(x, y, {255, 255, 255});
    }
  }

  // The simplified API reports failures as values, so no setjmp crosses
  // this function's objects.
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = png_uint_32(columns);
  png.height = png_uint_32(height);
  png.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&png, path.c_str(), 0, image.data(), 0,
                               nullptr)) {
    *error = "cannot write the picture " + path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}

}  // namespace veska::pack
