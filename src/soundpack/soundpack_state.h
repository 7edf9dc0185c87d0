// Soundpack and sonification own the pack's settings (sound modes, averages,
// slide interval, detune), its element sounds in the SoundTable, the levels
// with their targets and sliding flags, and the pan spread. They need load
// monitoring's figures, a SoundEngine, and for loading and choosing a pack
// the PreferencesStore and ShellServices; the application hands in the
// master volume, the element switches and the stored folder.
#ifndef VESKA_SOUNDPACK_SOUNDPACK_STATE_H_
#define VESKA_SOUNDPACK_SOUNDPACK_STATE_H_

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "monitor/resource_sensors.h"
#include "soundpack/sound_table.h"

namespace veska {

// One optional element (network, GPU, temperature, battery) of the loaded
// pack: its mode, whether the pack has its files, and its level.
struct ResourceElementState {
  int32_t SoundMode = 0;
  int32_t HasSounds = 0;
  int32_t Level = 0, Target = 0, Sliding = 0;
};

struct SoundpackState {
  int32_t CPUSoundMode = 2;
  int32_t RAMSoundMode = 2;
  int32_t DiskSoundMode = 2;
  int32_t UseAverages = 1;
  int32_t SlideInterval = 100;
  int32_t FrequencyFluctuation = 0;
  int32_t FrequencyOffset = 0;
  int32_t HasDiskSounds = 0;
  std::string SoundExtension = "wav";
  uintptr_t SoundpackPrefs = 0;
  ::veska::SoundTable SoundTable;
  int32_t CpuLevel = 0, CpuTarget = 0, CpuSliding = 0;
  int32_t RAMLevel = 0, RAMTarget = 0, RAMSliding = 0;
  int32_t DiskLevel = 0, DiskTarget = 0, DiskSliding = 0;
  std::vector<int32_t> CoreLevels;
  std::vector<int32_t> CoreTargets;
  std::vector<int32_t> CoreSliding;
  // By Resource.
  std::array<ResourceElementState, kResourceCount> Resources;
  int32_t PanStep = 0;
  int32_t PanPosition = 0;
  // Seeded once per process; draws the per-core detune.
  std::mt19937 Random{std::random_device{}()};
};

}  // namespace veska

#endif  // VESKA_SOUNDPACK_SOUNDPACK_STATE_H_
