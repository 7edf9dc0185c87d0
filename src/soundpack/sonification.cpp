#include "soundpack/sonification.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "monitor/load_sampling.h"
#include "soundpack/resource_elements.h"

namespace veska {
namespace {

constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
constexpr double kInt32Max = std::numeric_limits<int32_t>::max();

int32_t ToInt32(double whole) {
  if (std::isnan(whole)) return 0;
  if (whole <= kInt32Min) return std::numeric_limits<int32_t>::min();
  if (whole >= kInt32Max) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(whole);
}

int32_t Truncate(double value) { return ToInt32(std::trunc(value)); }

// Level times the master volume, formed in double as the arithmetic of the
// mapping requires (0.29f * 100 must stay below 29 before truncation).
double Scaled(int32_t level, float volume) {
  return static_cast<double>(level) * static_cast<double>(volume);
}

void Step(int32_t& level, int32_t target, int32_t& sliding) {
  if (level > target) {
    --level;
  } else if (level < target) {
    ++level;
  } else {
    sliding = 0;
  }
}

int CoreCount(const MonitorState& monitor) {
  return monitor.LastCoreIndex < 0 ? 0 : monitor.LastCoreIndex + 1;
}

// The per-core tables are sized by start-up; never index past them if the
// core count changed afterwards.
void EnsureCoreTables(SoundpackState& state, const MonitorState& monitor) {
  const std::size_t cores = static_cast<std::size_t>(CoreCount(monitor));
  if (state.CoreLevels.size() < cores) state.CoreLevels.resize(cores, 0);
  if (state.CoreTargets.size() < cores) state.CoreTargets.resize(cores, 0);
  if (state.CoreSliding.size() < cores) state.CoreSliding.resize(cores, 0);
}

double CoreLoad(const MonitorState& monitor, int n) {
  const auto index = static_cast<std::size_t>(n);
  return index < monitor.CoreLoads.size() ? monitor.CoreLoads[index] : 0.0;
}

// Sound calls by element key, through the table's find-or-add lookup.
class Elements {
 public:
  Elements(SoundTable& table, SoundEngine& engine)
      : table_(table), engine_(engine) {}

  void SetVolume(const std::string& key, int32_t volume) {
    const SoundHandle handle = table_.FindOrAdd(key);
    engine_.SetVolume(handle, volume);
  }
  void SetFrequency(const std::string& key, int32_t frequency) {
    const SoundHandle handle = table_.FindOrAdd(key);
    // A negative value wraps far above what the device accepts, so it is
    // refused like any other out-of-range frequency.
    engine_.SetFrequency(handle, static_cast<uint32_t>(frequency));
  }
  void SetPan(const std::string& key, int32_t pan) {
    const SoundHandle handle = table_.FindOrAdd(key);
    engine_.SetPan(handle, pan);
  }
  void Play(const std::string& key, int32_t volume) {
    const SoundHandle handle = table_.FindOrAdd(key);
    engine_.Play(handle, PlayLoop, volume);
  }

  // The single sound below mode 2, else "a" (at `a_volume`) then "b".
  void PlayResource(int32_t mode, const std::string& key,
                    const std::string& suffix, int32_t a_volume = 0) {
    if (mode < 2) {
      Play(key + suffix, 0);
    } else {
      Play(key + "a" + suffix, a_volume);
      Play(key + "b" + suffix, 0);
    }
  }

 private:
  SoundTable& table_;
  SoundEngine& engine_;
};

int32_t PitchFrequency(int32_t level) {
  return static_cast<int32_t>(static_cast<int64_t>(level) * 500 + 22050);
}

// The cross-fade rounds both halves, for every resource and in both CPU modes.
void SetCrossFade(Elements& elements, const std::string& key,
                  const std::string& suffix, int32_t level, float volume) {
  const int32_t inverse = static_cast<int32_t>(100 - int64_t{level});
  elements.SetVolume(key + "a" + suffix,
                     RoundHalfEven(Scaled(inverse, volume)));
  elements.SetVolume(key + "b" + suffix, RoundHalfEven(Scaled(level, volume)));
}

// RAM, disk and the optional elements: every volume rounded.
void SetResourceSounds(Elements& elements, int32_t mode, const std::string& key,
                       int32_t level, float volume) {
  switch (mode) {
    case 2:
      SetCrossFade(elements, key, "", level, volume);
      break;
    case 1:
      elements.SetFrequency(key, PitchFrequency(level));
      elements.SetVolume(key, RoundHalfEven(Scaled(100, volume)));
      break;
    case 0:
      elements.SetVolume(key, RoundHalfEven(Scaled(level, volume)));
      break;
    default:
      break;
  }
}

// The CPU: the pitch mode's fixed volume truncates, and so does the volume
// mode per core.
void SetCpuSounds(Elements& elements, int32_t mode, const std::string& suffix,
                  bool per_core, int32_t level, float volume) {
  switch (mode) {
    case 2:
      SetCrossFade(elements, "cpu", suffix, level, volume);
      break;
    case 1:
      elements.SetFrequency("cpu" + suffix, PitchFrequency(level));
      elements.SetVolume("cpu" + suffix, Truncate(Scaled(100, volume)));
      break;
    case 0: {
      const double scaled = Scaled(level, volume);
      elements.SetVolume("cpu" + suffix,
                         per_core ? Truncate(scaled) : RoundHalfEven(scaled));
      break;
    }
    default:
      break;
  }
}

bool TakesCpuTarget(int32_t mode) { return mode >= 0 && mode <= 2; }

// The CPU levels take targets while the average's flag is down; per-core
// packs never raise it, so their cores take new ones every pass.
bool CpuTakesTargets(const SoundpackState& state) {
  return state.CpuSliding == 0 && TakesCpuTarget(state.CPUSoundMode);
}

int32_t CoreTarget(const MonitorState& monitor, int n) {
  return RoundHalfEven(CoreLoad(monitor, n));
}
int32_t RAMTargetOf(const MonitorState& monitor) {
  return RoundHalfEven(monitor.RAMLoad);
}
int32_t DiskTargetOf(const MonitorState& monitor) {
  return RoundHalfEven(monitor.DiskLoad);
}

int32_t ResourceTargetOf(const MonitorState& monitor, Resource resource) {
  return RoundHalfEven(monitor.ResourceLoads[IndexOf(resource)]);
}

// Calls `visit` with each optional element the pack has, and its row.
template <typename State, typename Visit>
void ForEachResource(State& state, Visit visit) {
  for (const ResourceElement& row : kResourceElements) {
    auto& element = state.Resources[IndexOf(row.resource)];
    if (element.HasSounds == 1) visit(row, element);
  }
}

// A level rests when the next tick leaves it where it is and the target a
// later pass gives it (`next`, none when it takes none) is where it is too.
bool Rests(int32_t level, int32_t target, int32_t sliding,
           std::optional<int32_t> next) {
  return (sliding != 1 || target == level) && (!next || *next == level);
}

}  // namespace

int32_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double whole = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) {
    whole = floor + 1.0;
  }
  return ToInt32(whole);
}

void UpdateTargets(SoundpackState& state, MonitorState& monitor) {
  UpdateCpuAverage(monitor);
  EnsureCoreTables(state, monitor);
  if (CpuTakesTargets(state)) {
    if (state.UseAverages != 0) {
      state.CpuTarget = monitor.CpuAverage;
      state.CpuSliding = 1;
    } else {
      for (int n = 0; n < CoreCount(monitor); ++n) {
        state.CoreSliding[n] = 1;
        state.CoreTargets[n] = CoreTarget(monitor, n);
      }
    }
  }
  if (state.RAMSliding == 0) {
    state.RAMTarget = RAMTargetOf(monitor);
    state.RAMSliding = 1;
  }
  if (state.DiskSliding == 0) {
    state.DiskTarget = DiskTargetOf(monitor);
    state.DiskSliding = 1;
  }
  ForEachResource(
      state, [&](const ResourceElement& row, ResourceElementState& element) {
        if (element.Sliding == 0) {
          element.Target = ResourceTargetOf(monitor, row.resource);
          element.Sliding = 1;
        }
      });
}

bool LevelsAtRest(const SoundpackState& state, const MonitorState& monitor) {
  if (state.UseAverages != 0) {
    // Once its slide ends the average takes a target whatever its flag was.
    const std::optional<int32_t> next =
        TakesCpuTarget(state.CPUSoundMode)
            ? std::optional<int32_t>(monitor.CpuAverage)
            : std::nullopt;
    if (!Rests(state.CpuLevel, state.CpuTarget, state.CpuSliding, next)) {
      return false;
    }
  } else {
    const auto cores = static_cast<std::size_t>(CoreCount(monitor));
    if (state.CoreLevels.size() < cores || state.CoreTargets.size() < cores ||
        state.CoreSliding.size() < cores) {
      return false;  // tables the next pass has yet to grow
    }
    const bool retargets = CpuTakesTargets(state);
    for (int n = 0; n < CoreCount(monitor); ++n) {
      const std::optional<int32_t> next =
          retargets ? std::optional<int32_t>(CoreTarget(monitor, n))
                    : std::nullopt;
      if (!Rests(state.CoreLevels[n], state.CoreTargets[n],
                 state.CoreSliding[n], next)) {
        return false;
      }
    }
  }
  if (!Rests(state.RAMLevel, state.RAMTarget, state.RAMSliding,
             RAMTargetOf(monitor))) {
    return false;
  }
  if (state.HasDiskSounds == 1 &&
      !Rests(state.DiskLevel, state.DiskTarget, state.DiskSliding,
             DiskTargetOf(monitor))) {
    return false;
  }
  bool rest = true;
  ForEachResource(state, [&](const ResourceElement& row,
                             const ResourceElementState& element) {
    rest = rest && Rests(element.Level, element.Target, element.Sliding,
                         ResourceTargetOf(monitor, row.resource));
  });
  return rest;
}

void SlideLevels(SoundpackState& state, const MonitorState& monitor) {
  EnsureCoreTables(state, monitor);
  // Any non-zero UseAverages is averages mode here too, or a pack with such
  // a value would hold the CPU level still for ever.
  if (state.UseAverages != 0) {
    if (state.CpuSliding == 1) {
      Step(state.CpuLevel, state.CpuTarget, state.CpuSliding);
    }
  } else {
    for (int n = 0; n < CoreCount(monitor); ++n) {
      if (state.CoreSliding[n] == 1) {
        Step(state.CoreLevels[n], state.CoreTargets[n], state.CoreSliding[n]);
      }
    }
  }
  if (state.RAMSliding == 1) {
    Step(state.RAMLevel, state.RAMTarget, state.RAMSliding);
  }
  if (state.HasDiskSounds == 1 && state.DiskSliding == 1) {
    Step(state.DiskLevel, state.DiskTarget, state.DiskSliding);
  }
  ForEachResource(state,
                  [](const ResourceElement&, ResourceElementState& element) {
                    if (element.Sliding == 1) {
                      Step(element.Level, element.Target, element.Sliding);
                    }
                  });
}

void UpdateSounds(SoundpackState& state, const MonitorState& monitor,
                  float volume, SoundEngine& sound) {
  SlideLevels(state, monitor);

  Elements elements(state.SoundTable, sound);
  if (state.UseAverages != 0) {
    SetCpuSounds(elements, state.CPUSoundMode, "", false, state.CpuLevel,
                 volume);
  } else {
    for (int n = 0; n < CoreCount(monitor); ++n) {
      SetCpuSounds(elements, state.CPUSoundMode, std::to_string(n), true,
                   state.CoreLevels[n], volume);
    }
  }
  SetResourceSounds(elements, state.RAMSoundMode, "ram", state.RAMLevel,
                    volume);
  if (state.HasDiskSounds == 1) {
    SetResourceSounds(elements, state.DiskSoundMode, "Disk", state.DiskLevel,
                      volume);
  }
  ForEachResource(state, [&](const ResourceElement& row,
                             const ResourceElementState& element) {
    SetResourceSounds(elements, element.SoundMode, row.name, element.Level,
                      volume);
  });
}

void StartSounds(SoundpackState& state, const MonitorState& monitor,
                 const ElementSwitches& play, SoundEngine& sound) {
  Elements elements(state.SoundTable, sound);
  if (play.PlayCPU == 1) {
    if (state.UseAverages == 0) {
      for (int n = 0; n < CoreCount(monitor); ++n) {
        elements.PlayResource(state.CPUSoundMode, "cpu", std::to_string(n));
      }
    } else {
      // "cpua" starts just audible, as the idle half of the cross-fade.
      elements.PlayResource(state.CPUSoundMode, "cpu", "", 9);
    }
  }
  if (play.PlayRAM == 1) elements.PlayResource(state.RAMSoundMode, "ram", "");
  if (state.HasDiskSounds == 1 && play.PlayDisk == 1) {
    elements.PlayResource(state.DiskSoundMode, "Disk", "");
  }
  ForEachResource(state, [&](const ResourceElement& row,
                             const ResourceElementState& element) {
    if (play.PlayResources[IndexOf(row.resource)] == 1) {
      elements.PlayResource(element.SoundMode, row.name, "");
    }
  });

  if (state.UseAverages != 0) return;
  // One core has no neighbour to be spread from; it stands in the middle.
  if (monitor.LastCoreIndex <= 0) {
    state.PanStep = 0;
    state.PanPosition = 0;
  } else {
    state.PanStep = 200 / monitor.LastCoreIndex + 1;
    state.PanPosition = -100;
  }
  for (int n = 0; n < CoreCount(monitor); ++n) {
    const std::string suffix = std::to_string(n);
    if (state.CPUSoundMode < 2) {
      elements.SetPan("cpu" + suffix, state.PanPosition);
    } else {
      elements.SetPan("cpua" + suffix, state.PanPosition);
      elements.SetPan("cpub" + suffix, state.PanPosition);
    }
    state.PanPosition += state.PanStep;
  }
}

}  // namespace veska
