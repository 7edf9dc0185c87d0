#include "soundpack_rig.h"

#include <vector>

#include "wave_image.h"

namespace veska::testing {

void WriteWav(const std::filesystem::path& file, uint32_t rate,
              uint32_t frames) {
  std::vector<int32_t> ramp(frames);
  for (uint32_t i = 0; i < frames; ++i) ramp[i] = static_cast<int32_t>(i * 37);
  WriteFile(file, PcmWave(1, rate, 16, Pcm16(ramp)));
}

SoundpackRig::SoundpackRig(int cores)
    : diagnostics(std::tmpfile()), engine(&device, diagnostics) {
  engine.Open();
  monitor.LastCoreIndex = static_cast<int16_t>(cores - 1);
  monitor.CoreLoads.assign(cores, 0.0);
  state.CoreLevels.assign(cores, 0);
  state.CoreTargets.assign(cores, 0);
  state.CoreSliding.assign(cores, 0);
  state.Random.seed(20240607);
}

SoundpackRig::~SoundpackRig() {
  engine.Close();
  if (diagnostics != nullptr) std::fclose(diagnostics);
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
