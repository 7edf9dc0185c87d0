// Small soundpacks written by the tests.
#ifndef VESKA_TESTS_TOOLS_PACK_TEST_FILES_H_
#define VESKA_TESTS_TOOLS_PACK_TEST_FILES_H_

#include <cmath>
#include <filesystem>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "wave_image.h"

namespace veska::testing {

// `seconds` of a sine of `hz` at `amplitude` (full scale 1), 16-bit mono.
inline Bytes SineWave(uint32_t rate, double hz, double seconds,
                      double amplitude = 0.5) {
  std::vector<int32_t> samples;
  const auto frames = static_cast<int>(std::lround(rate * seconds));
  for (int i = 0; i < frames; ++i) {
    samples.push_back(static_cast<int32_t>(std::lround(
        32767 * amplitude * std::sin(2 * std::numbers::pi * hz * i / rate))));
  }
  return PcmWave(1, rate, 16, Pcm16(samples));
}

// A folder `name` under `root` holding "prefs.ini" (unless `prefs` is null)
// and the files given; returns its path.
inline std::string MakePack(const std::filesystem::path& root,
                            const std::string& name, const char* prefs,
                            const std::map<std::string, Bytes>& files) {
  const std::filesystem::path folder = root / name;
  std::filesystem::create_directories(folder);
  if (prefs != nullptr) {
    WriteFile(folder / "prefs.ini", std::string("[soundpack]\n") + prefs);
  }
  for (const auto& [file, bytes] : files) WriteFile(folder / file, bytes);
  return folder.string();
}

}  // namespace veska::testing

#endif  // VESKA_TESTS_TOOLS_PACK_TEST_FILES_H_
