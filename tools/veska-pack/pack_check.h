// What VESKA will load from a soundpack folder and how it will play it, found
// by the program's own loader, decoders and mixer.
#ifndef VESKA_TOOLS_VESKA_PACK_PACK_CHECK_H_
#define VESKA_TOOLS_VESKA_PACK_PACK_CHECK_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monitor/resource_sensors.h"
#include "sound_stats.h"

namespace veska::pack {

// Why an element plays or stays silent.
enum class ElementStatus {
  kPlays,
  kMissing,      // no file of that name with the pack's extension
  kUnreadable,   // the file cannot be read
  kUndecodable,  // not a WAV, Ogg Vorbis or FLAC file VESKA can decode
  kRefused,      // decoded, but the sound device refuses its format
  kSilentFile,   // every sample is zero
  kNeverHeard,   // the mode value leaves it at volume 0 for ever
};
const char* StatusName(ElementStatus status);

struct FileFacts {
  std::string format;  // "WAV PCM 16-bit", "Ogg Vorbis", "FLAC", ...
  uint32_t rate = 0;
  uint16_t channels = 0;
  std::optional<SoundStats> stats;  // nothing when the mixer cannot play it
};

struct ElementReport {
  std::string resource;           // "CPU", "RAM", "Disk", "Network", ...
  std::string element;            // "cpu_a"
  std::string file;               // "cpu_a.ogg"
  std::vector<std::string> keys;  // "cpua", or "cpua0", "cpua1", ...
  int32_t mode = 0;
  ElementStatus status = ElementStatus::kPlays;
  std::string reason;  // for every status but kPlays
  std::optional<FileFacts> facts;
  std::vector<std::string> warnings;  // heard, but maybe not as meant
};

struct IgnoredFile {
  std::string name;
  std::string reason;
};

struct CheckReport {
  std::string folder;
  // False when the folder has no readable "prefs.ini": VESKA refuses it.
  bool valid = false;
  int32_t UseAverages = 1, CPUSoundMode = 1, RAMSoundMode = 1;
  int32_t DiskSoundMode = 1, SlideInterval = 100, FrequencyFluctuation = 0;
  std::string extension;
  std::string extension_reason;
  bool has_disk_sounds = false;
  std::string disk_reason;
  // The optional elements (network, GPU, temperature, battery) by Resource:
  // whether the pack has their files, and their modes.
  std::array<bool, kResourceCount> has_resource{};
  std::array<int32_t, kResourceCount> resource_modes{};
  std::vector<ElementReport> elements;
  std::vector<IgnoredFile> ignored;
  std::vector<std::string> warnings;  // about the pack as a whole

  bool EveryElementPlays() const;
};

// `folder` must be a readable folder (the caller says otherwise); per-core
// packs are loaded for `cores` cores, as on a machine with that many.
CheckReport CheckPack(const std::string& folder, int cores = 2);

std::string CheckText(const CheckReport& report);
std::string CheckJson(const CheckReport& report);

}  // namespace veska::pack

#endif  // VESKA_TOOLS_VESKA_PACK_PACK_CHECK_H_
