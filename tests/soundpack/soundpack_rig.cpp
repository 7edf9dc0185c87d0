#include "soundpack_rig.h"

#include <fstream>
#include <random>
#include <vector>

namespace veska::testing {

void WriteWav(const std::filesystem::path& file, uint32_t rate,
              uint32_t frames) {
  std::vector<uint8_t> bytes;
  auto put = [&](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
  };
  auto tag = [&](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
  tag("RIFF");
  put(36 + frames * 2, 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);  // PCM, mono
  put(1, 2);
  put(rate, 4);
  put(rate * 2, 4);
  put(2, 2);
  put(16, 2);
  tag("data");
  put(frames * 2, 4);
  for (uint32_t i = 0; i < frames; ++i) put(i * 37, 2);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

SoundpackRig::SoundpackRig(int cores)
    : diagnostics(std::tmpfile()), engine(&device, diagnostics) {
  std::random_device seed;
  do {
    temp = std::filesystem::temp_directory_path() /
           ("veska-soundpack-" + std::to_string(seed()));
  } while (!std::filesystem::create_directory(temp));
  engine.Open();
  state.services = {nullptr, &engine, &shell, &prefs};
  state.LastCoreIndex = static_cast<int16_t>(cores - 1);
  state.CoreLoads.assign(cores, 0.0);
  state.CoreLevels.assign(cores, 0);
  state.CoreTargets.assign(cores, 0);
  state.CoreSliding.assign(cores, 0);
  state.Random.seed(20240607);
}

SoundpackRig::~SoundpackRig() {
  engine.Close();
  if (diagnostics != nullptr) std::fclose(diagnostics);
  std::error_code ignored;
  std::filesystem::remove_all(temp, ignored);
}

std::string SoundpackRig::Folder(const std::string& name) const {
  std::filesystem::create_directories(temp / name);
  return (temp / name).string() + "/";
}

void SoundpackRig::LoadAs(const std::string& key,
                          const std::filesystem::path& file) {
  state.SoundTable.FindOrAdd(key) = engine.LoadFile(file.string());
  buffers[key] = device.Last();
}

int32_t SoundpackRig::DevicePan(int32_t pan) const {
  const int32_t size = 10000 - engine.AttenuationTable()[100 - std::abs(pan)];
  return pan == 0 ? 0 : pan < 0 ? -size : size;
}

}  // namespace veska::testing
