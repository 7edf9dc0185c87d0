// veska_analyze_audio FILE.wav [--from S] [--to S] [--segments S]
//                             [--min-hz F]
//
// Prints one line of key=value pairs for the window [from, to) of the
// recording (the whole file by default), or one such line per segment of S
// seconds with --segments:
//   t=0.000 duration=... rate=... channels=... rms_left=... rms_right=...
//   rms=... pitch=...
// rms_left/rms_right are the first two channels (both the one channel of a
// mono file); rms is their mean square's root; pitch is the strongest
// frequency from F Hz up (20 by default), 0 when silent.
// Exit status 1 for an unreadable file, 2 for bad arguments.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio_analysis.h"

namespace {

bool ParseSeconds(const char* text, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v < 0) return false;
  *out = v;
  return true;
}

void PrintWindow(const veska::e2e::Recording& rec, double from, double to,
                 double min_hz) {
  const auto range = veska::e2e::Window(rec, from, to);
  const double left = veska::e2e::ChannelRms(rec, 0, range);
  const double right =
      rec.channels > 1 ? veska::e2e::ChannelRms(rec, 1, range) : left;
  std::printf(
      "t=%.3f duration=%.3f rate=%d channels=%d rms_left=%.6f "
      "rms_right=%.6f rms=%.6f pitch=%.2f\n",
      static_cast<double>(range.begin) / rec.rate,
      static_cast<double>(range.end - range.begin) / rec.rate, rec.rate,
      rec.channels, left, right, std::sqrt((left * left + right * right) / 2),
      veska::e2e::DominantPitch(rec, range, min_hz));
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  double from = 0.0;
  double to = -1.0;
  double segment = 0.0;
  double min_hz = 20.0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    double* target = arg == "--from"       ? &from
                     : arg == "--to"       ? &to
                     : arg == "--segments" ? &segment
                     : arg == "--min-hz"   ? &min_hz
                                           : nullptr;
    if (target) {
      if (i + 1 >= argc || !ParseSeconds(argv[++i], target)) {
        std::fprintf(stderr, "%s needs a number of seconds\n", arg.c_str());
        return 2;
      }
    } else if (path.empty() && !arg.starts_with("--")) {
      path = arg;
    } else {
      std::fprintf(stderr,
                   "usage: %s FILE.wav [--from S] [--to S] [--segments S] "
                   "[--min-hz F]\n",
                   argv[0]);
      return 2;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr,
                 "usage: %s FILE.wav [--from S] [--to S] "
                 "[--segments S]\n",
                 argv[0]);
    return 2;
  }

  veska::e2e::Recording rec;
  std::string error;
  if (!veska::e2e::ReadWavFile(path, &rec, &error)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  if (segment > 0) {
    const double end = to < 0 ? rec.Seconds() : to;
    for (double t = from; t < end; t += segment) {
      PrintWindow(rec, t, std::min(t + segment, end), min_hz);
    }
  } else {
    PrintWindow(rec, from, to, min_hz);
  }
  return 0;
}
