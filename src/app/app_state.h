// The program's one record of settings, samples, levels, timers and flags.
// Every procedure reads and writes it directly; a test makes a fresh one.
#ifndef VESKA_APP_APP_STATE_H_
#define VESKA_APP_APP_STATE_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "monitor/counter_library.h"
#include "soundpack/sound_table.h"

namespace veska {

class CounterLibrary;
class PreferencesStore;
class ShellServices;
class SoundEngine;

// The bindings chosen in main() (or by a test), handed down with the state.
struct Services {
  CounterLibrary* counters = nullptr;
  SoundEngine* sound = nullptr;
  ShellServices* shell = nullptr;
  PreferencesStore* prefs = nullptr;
};

struct AppState {
  Services services;

  // Application core. Members start at the values start-up gives them; the
  // per-core tables and the times are set by start-up itself.
  float Volume = 0.1f;
  int32_t RefreshTime = 500;
  int32_t PlayCPU = 1;
  int32_t PlayRAM = 1;
  int32_t PlayDisk = 1;
  int32_t KeyboardMode = 1;
  int32_t KeyboardModifiers = 6;
  int32_t KeyboardKey = 122;
  std::string Path;
  int32_t TooltipInterval = 5000;
  uint32_t LastTooltipTime = 0;
  uint32_t LastSampleTime = 0;
  uint32_t LastSlideTime = 0;
  int32_t EventCode = 0;
  int32_t HotkeyId = 0;
  int32_t HotkeyActive = 0;
  int32_t Muted = 0;
  uint32_t LastHotkeyTime = 0;
  int32_t PushReleaseDelay = 500;
  std::string VolumeInput;
  int32_t CoreIndex = 0;
  uintptr_t TrayImage = 0;

  // Load monitoring.
  int16_t LastCoreIndex = 0;
  CounterQuery CpuQuery = 0;
  CounterQuery DiskQuery = 0;
  std::vector<CounterHandle> CpuCounters = std::vector<CounterHandle>(2);
  std::vector<double> CoreLoads = std::vector<double>(2);
  CounterHandle LastCpuCounter = 0;
  CounterHandle DiskCounter = 0;
  std::string CoreCounterPath;
  std::string DiskCounterPath;
  std::string DiskObjectName;
  std::string DiskTimeName;
  std::string ProcessorObjectName;
  std::string ProcessorTimeName;
  int32_t NameBufferSize = 0;
  FormattedCounterValue CpuValue;
  FormattedCounterValue DiskValue;
  int32_t PdhStatus = 0;
  uint64_t TotalRAM = 0;
  uint64_t AvailableRAM = 0;
  uint64_t UsedRAM = 0;
  float RAMLoad = 0.0f;
  double DiskLoad = 0.0;
  int32_t CpuAverage = 0;

  // Soundpack and its mapping.
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
  int32_t PanStep = 0;
  int32_t PanPosition = 0;
  // Seeded once per process; draws the per-core detune.
  std::mt19937 Random{std::random_device{}()};
};

}  // namespace veska

#endif  // VESKA_APP_APP_STATE_H_
