// Measures recordings of the running program: loudness per channel and the
// dominant pitch, over the whole file or a window of it. Reads WAV files on
// its own so that the measurement does not share code with what it measures.
#ifndef VESKA_TESTS_E2E_AUDIO_ANALYSIS_H_
#define VESKA_TESTS_E2E_AUDIO_ANALYSIS_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veska::e2e {

struct Recording {
  int rate = 0;
  int channels = 0;
  // Interleaved, full scale -1..1.
  std::vector<float> samples;

  int64_t Frames() const;
  double Seconds() const;
};

// Accepts integer PCM of 8, 16, 24 and 32 bits and 32/64-bit float, plain or
// extensible. A data chunk that claims more than the file holds (a recorder
// stopped before it could fix its header) yields what is there.
bool ParseWav(std::span<const uint8_t> bytes, Recording* out,
              std::string* error);
bool ReadWavFile(const std::string& path, Recording* out, std::string* error);

// Frame range of [from_s, to_s) clamped to the recording; to_s < 0 means the
// end.
struct FrameRange {
  int64_t begin = 0;
  int64_t end = 0;
};
FrameRange Window(const Recording& rec, double from_s, double to_s);

// Root mean square of one channel over the range; 0 for an empty range or a
// channel the recording lacks.
double ChannelRms(const Recording& rec, int channel, FrameRange range);

// Frequency in Hz of the strongest spectral peak at or above `lowest_hz` in
// the channels' mix, refined between bins; 0 when the range is (nearly)
// silent or shorter than four periods of `lowest_hz`.
double DominantPitch(const Recording& rec, FrameRange range,
                     double lowest_hz = 20.0);

}  // namespace veska::e2e

#endif  // VESKA_TESTS_E2E_AUDIO_ANALYSIS_H_
