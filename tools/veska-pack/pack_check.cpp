#include "pack_check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "prefs/preferences_store.h"
#include "shell/script/scripted_shell.h"
#include "sound/decoders.h"
#include "sound/mixer/mixer.h"
#include "sound/mixer/sample_layout.h"
#include "sound/sound_engine.h"
#include "sound/sound_file.h"
#include "soundpack/resource_elements.h"
#include "soundpack/soundpack_loader.h"

namespace veska::pack {
namespace {

namespace fs = std::filesystem;

// The rate pitch mode plays a sound at when its level is 0.
constexpr uint32_t kPitchBaseRate = 22050;
// -0.09 dBFS.
constexpr double kNearFullScale = 0.99;
// Seconds; a loop shorter repeats at an audible rate.
constexpr double kShortestLoop = 0.05;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ModeName(int32_t mode) {
  switch (mode) {
    case 0:
      return "volume";
    case 1:
      return "pitch";
    case 2:
      return "cross-fade";
    default:
      return "not a mode";
  }
}

std::string Signature(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  char bytes[4] = {};
  in.read(bytes, 4);
  return std::string(bytes, static_cast<std::size_t>(in.gcount()));
}

std::string FormatName(const std::string& signature, const WaveFormat& f) {
  if (signature == "OggS") return "Ogg Vorbis";
  if (signature == "fLaC") return "FLAC";
  if (signature != "RIFF") return "unknown";
  const std::string bits = std::to_string(f.bits_per_sample) + "-bit";
  switch (f.format_tag) {
    case kWaveFormatPcm:
      return "WAV PCM " + bits;
    case kWaveFormatIeeeFloat:
      return "WAV float " + bits;
    case kWaveFormatExtensible:
      return "WAV extensible " + bits;
    default:
      return "WAV format " + std::to_string(f.format_tag) + " " + bits;
  }
}

std::string RefusalReason(const DecodedSound& sound) {
  const WaveFormat& f = sound.format;
  if (ParseSampleLayout(f)) return "the file holds no samples";
  return "the sound device cannot play its format (" + FormatName("RIFF", f) +
         ", " + std::to_string(f.channels) + " channels, " +
         std::to_string(f.samples_per_sec) +
         " Hz); use 8, 16, 24 or 32-bit PCM or 32-bit float, mono or stereo, "
         "at 100 to 200000 Hz";
}

const std::vector<SoundDecoder>& Decoders() {
  static const std::vector<SoundDecoder> decoders = {OggVorbisDecoder,
                                                     FlacDecoder};
  return decoders;
}

struct ResourceOf {
  std::string name;
  int32_t mode;
};

// The optional elements as the menu names them, by Resource.
constexpr std::array<const char*, kResourceCount> kResourceNames = {
    "Network", "GPU", "Temperature", "Battery"};

// The optional element whose files `element` ("net", "gpu_a") is one of.
const ResourceElement* OptionalElement(const std::string& element) {
  for (const ResourceElement& row : kResourceElements) {
    const std::string name = row.name;
    if (element == name || element == name + "_a" || element == name + "_b") {
      return &row;
    }
  }
  return nullptr;
}

ResourceOf Resource(const CheckReport& r, const std::string& element) {
  if (element.rfind("cpu", 0) == 0) return {"CPU", r.CPUSoundMode};
  if (element.rfind("ram", 0) == 0) return {"RAM", r.RAMSoundMode};
  if (const ResourceElement* row = OptionalElement(element)) {
    const std::size_t index = IndexOf(row->resource);
    return {kResourceNames[index], r.resource_modes[index]};
  }
  return {"Disk", r.DiskSoundMode};
}

// The mode's key in prefs.ini for an element's resource.
std::string ModeSetting(const ElementReport& e) {
  if (const ResourceElement* row = OptionalElement(e.element)) {
    return row->mode_key;
  }
  return e.resource == "Disk"  ? "DiskSoundMode"
         : e.resource == "RAM" ? "RAMSoundMode"
                               : "CPUSoundMode";
}

// Why a file the loader asked for did not become a sound.
void ExplainFailure(const std::string& path, ElementReport& e) {
  std::error_code error;
  if (!fs::is_regular_file(PathOf(path), error)) {
    e.status = ElementStatus::kMissing;
    e.reason = "VESKA looks for " + e.file + ", which is not there";
    return;
  }
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) {
    e.status = ElementStatus::kUnreadable;
    e.reason = e.file + " cannot be read";
    return;
  }
  DecodedSound sound;
  if (!ReadSoundFile(path, Decoders(), &sound)) {
    e.status = ElementStatus::kUndecodable;
    e.reason = e.file +
               " is damaged or not a WAV, Ogg Vorbis or FLAC file VESKA can "
               "decode";
    return;
  }
  e.status = ElementStatus::kRefused;
  e.reason = RefusalReason(sound);
}

// A mode outside 0 to 2 starts the sounds and never changes them: at volume
// 0, except the averaged CPU's "a" sound, which starts at 9.
void ApplyMode(const CheckReport& r, ElementReport& e) {
  if (e.mode >= 0 && e.mode <= 2) return;
  const bool fixed_nine = e.mode >= 2 && e.resource == "CPU" &&
                          r.UseAverages != 0 && e.element == "cpu_a";
  const std::string setting = ModeSetting(e);
  if (fixed_nine) {
    e.warnings.push_back(setting + "=" + std::to_string(e.mode) +
                         " is not a mode: it plays at volume 9 whatever the "
                         "load (use 0, 1 or 2)");
    return;
  }
  if (e.status != ElementStatus::kPlays) return;
  e.status = ElementStatus::kNeverHeard;
  e.reason = setting + "=" + std::to_string(e.mode) +
             " is not a mode: the sound starts at volume 0 and is never "
             "changed (use 0, 1 or 2)";
}

void AddWarnings(const CheckReport& r, ElementReport& e) {
  if (!e.facts || !e.facts->stats) return;
  const SoundStats& s = *e.facts->stats;
  if (e.mode == 1 && e.facts->rate != kPitchBaseRate) {
    const double semitones =
        12 * std::log2(double(kPitchBaseRate) / e.facts->rate);
    e.warnings.push_back(
        "pitch mode plays it at 22050 Hz at idle, not at its own " +
        std::to_string(e.facts->rate) + " Hz: it sounds " +
        Fixed(std::abs(semitones), 1) + " semitones " +
        (semitones < 0 ? "lower" : "higher") + " than recorded");
  }
  if (s.SeamClicks()) {
    e.warnings.push_back(
        "the loop clicks where its end meets its beginning "
        "(a step of " +
        Fixed(s.seam_step, 3) + " full scale, against " +
        Fixed(s.typical_step, 3) + " inside the loop)");
  }
  if (s.seconds < kShortestLoop) {
    e.warnings.push_back("the loop lasts only " + Fixed(s.seconds * 1000, 1) +
                         " ms: repeated, it is heard as a buzz (a cut or "
                         "damaged file?)");
  }
  if (s.peak >= kNearFullScale) {
    e.warnings.push_back(
        "it peaks within 0.1 dB of full scale; with other sounds the mix "
        "may clip");
  }
  if (e.mode == 1 && e.resource == "CPU" && r.UseAverages == 0 &&
      r.FrequencyFluctuation == 1) {
    e.warnings.push_back(
        "FrequencyFluctuation=1 has no effect here: pitch "
        "mode sets the frequency at every step");
  }
}

ElementReport ReportElement(const CheckReport& r, const std::string& folder,
                            const std::string& element,
                            const std::vector<std::string>& keys,
                            SoundpackState& state) {
  ElementReport e;
  e.element = element;
  e.file = element + r.extension;
  e.keys = keys;
  const ResourceOf resource = Resource(r, element);
  e.resource = resource.name;
  e.mode = resource.mode;
  const std::string path = folder + "/" + e.file;

  bool loaded = true;
  for (const std::string& key : keys) {
    loaded = loaded && state.SoundTable.FindOrAdd(key) != 0;
  }
  if (loaded) {
    DecodedSound sound;
    if (ReadSoundFile(path, Decoders(), &sound)) {
      e.facts = FileFacts{FormatName(Signature(path), sound.format),
                          sound.format.samples_per_sec, sound.format.channels,
                          MeasureSound(sound)};
      if (sound.size >= kMaxDecodedBytes) {
        e.warnings.push_back("VESKA keeps only the first " +
                             std::to_string(kMaxDecodedBytes) +
                             " bytes of its sound; the rest is not heard");
      }
      if (e.facts->stats && e.facts->stats->peak == 0) {
        e.status = ElementStatus::kSilentFile;
        e.reason = "every sample of " + e.file + " is zero";
      }
    }
  } else {
    ExplainFailure(path, e);
  }
  ApplyMode(r, e);
  AddWarnings(r, e);
  return e;
}

std::string WhyIgnored(const CheckReport& r, const std::string& name) {
  const std::string extension = "." + SoundFileExtension(name);
  if (IsElementFileName(name)) {
    if (extension != r.extension) {
      return "its extension is not the pack's: VESKA loads only " +
             r.extension + " files";
    }
    return "this element is not used with the pack's modes";
  }
  return "not an element file name";
}

void ExplainFiles(CheckReport& r, const std::vector<std::string>& files) {
  std::set<std::string> used;
  for (const ElementReport& e : r.elements) used.insert(e.file);
  std::set<std::string> element_extensions;
  bool from_element = false;
  for (const std::string& name : files) {
    if (IsElementFileName(name) && SoundFileExtension(name) != "ini") {
      from_element = true;
      element_extensions.insert("." + SoundFileExtension(name));
    }
    if (name == "prefs.ini" || used.count(name)) continue;
    std::string reason = WhyIgnored(r, name);
    if (NamesDiskSounds(name)) {
      reason += "; its name holds \"disk\", so VESKA looks for Disk sounds";
    }
    r.ignored.push_back({name, reason});
  }
  if (from_element) {
    r.extension_reason = "from the element files";
  } else if (r.extension == "wav") {
    r.extension_reason =
        "no file gives one: VESKA keeps the extension of the pack it had "
        "before (\"wav\" without a dot at start, which matches nothing)";
  } else {
    r.extension_reason =
        "no element file is present, so the last other "
        "file's extension is taken";
  }
  if (element_extensions.size() > 1) {
    std::string list;
    for (const std::string& x : element_extensions) {
      list += (list.empty() ? "" : ", ") + x;
    }
    r.warnings.push_back("the element files have different extensions (" +
                         list + "); VESKA loads only " + r.extension +
                         " files");
  }
  for (const std::string& name : files) {
    if (NamesDiskSounds(name)) {
      r.disk_reason = name + " holds \"disk\" in its name";
      break;
    }
  }
}

}  // namespace

const char* StatusName(ElementStatus status) {
  switch (status) {
    case ElementStatus::kPlays:
      return "plays";
    case ElementStatus::kMissing:
      return "missing";
    case ElementStatus::kUnreadable:
      return "unreadable";
    case ElementStatus::kUndecodable:
      return "undecodable";
    case ElementStatus::kRefused:
      return "refused";
    case ElementStatus::kSilentFile:
      return "silent-file";
    case ElementStatus::kNeverHeard:
      return "never-heard";
  }
  return "?";
}

bool CheckReport::EveryElementPlays() const {
  return valid && std::all_of(elements.begin(), elements.end(), [](auto& e) {
           return e.status == ElementStatus::kPlays;
         });
}

CheckReport CheckPack(const std::string& folder, int cores) {
  CheckReport r;
  r.folder = folder;
  SoftwareMixer mixer;
  SoundEngine engine(&mixer, nullptr);
  engine.Open();
  for (const SoundDecoder& decoder : Decoders())
    engine.RegisterDecoder(decoder);
  PreferencesStore prefs;
  ScriptedShell shell;
  SoundpackState state;
  MonitorState monitor;
  monitor.LastCoreIndex = static_cast<int16_t>(std::max(1, cores) - 1);
  r.valid =
      LoadSoundpackIfValid(state, monitor, {engine, prefs, shell}, folder);
  if (!r.valid) return r;

  r.UseAverages = state.UseAverages;
  r.CPUSoundMode = state.CPUSoundMode;
  r.RAMSoundMode = state.RAMSoundMode;
  r.DiskSoundMode = state.DiskSoundMode;
  r.SlideInterval = state.SlideInterval;
  r.FrequencyFluctuation = state.FrequencyFluctuation;
  r.extension = state.SoundExtension;
  r.has_disk_sounds = state.HasDiskSounds == 1;
  for (std::size_t i = 0; i < state.Resources.size(); ++i) {
    r.has_resource[i] = state.Resources[i].HasSounds == 1;
    r.resource_modes[i] = state.Resources[i].SoundMode;
  }

  // Per-core packs load one file once per core; report it once.
  std::vector<std::string> order;
  std::map<std::string, std::vector<std::string>> keys;
  for (const ElementFile& f : ElementFiles(state, monitor.LastCoreIndex + 1)) {
    const std::string element = f.file.substr(1);
    if (!keys.count(element)) order.push_back(element);
    keys[element].push_back(f.key);
  }
  for (const std::string& element : order) {
    r.elements.push_back(
        ReportElement(r, folder, element, keys[element], state));
  }
  ExplainFiles(r, ListSoundpackFiles(folder));
  engine.Release(AllSounds);
  engine.Close();
  return r;
}

std::string CheckText(const CheckReport& r) {
  std::ostringstream out;
  out << "Soundpack: " << r.folder << "\n";
  if (!r.valid) {
    out << "Not a soundpack: there is no readable prefs.ini, and VESKA "
           "refuses the folder. Nothing plays.\n";
    return out.str();
  }
  out << "Settings: UseAverages=" << r.UseAverages
      << (r.UseAverages == 0 ? " (one CPU sound per core)" : " (CPU average)")
      << ", CPUSoundMode=" << r.CPUSoundMode << " (" << ModeName(r.CPUSoundMode)
      << "), RAMSoundMode=" << r.RAMSoundMode << " ("
      << ModeName(r.RAMSoundMode) << "), DiskSoundMode=" << r.DiskSoundMode
      << " (" << ModeName(r.DiskSoundMode)
      << "), SlideInterval=" << r.SlideInterval
      << ", FrequencyFluctuation=" << r.FrequencyFluctuation;
  // Only the optional elements the pack has, so older packs read as before.
  for (const ResourceElement& row : kResourceElements) {
    const std::size_t index = IndexOf(row.resource);
    if (!r.has_resource[index]) continue;
    out << ", " << row.mode_key << "=" << r.resource_modes[index] << " ("
        << ModeName(r.resource_modes[index]) << ")";
  }
  out << "\n";
  out << "Extension: " << r.extension << " (" << r.extension_reason << ")\n";
  out << "Disk sounds: "
      << (r.has_disk_sounds ? "yes, " + r.disk_reason
                            : std::string("no (no file name holds \"disk\")"))
      << "\n";
  std::string optional;
  for (std::size_t i = 0; i < kResourceNames.size(); ++i) {
    if (!r.has_resource[i]) continue;
    optional += std::string(optional.empty() ? "" : ", ") + kResourceNames[i];
  }
  if (!optional.empty()) {
    out << "Also heard: " << optional << " (the pack has their files)\n";
  }
  out << "\nElements:\n";
  for (const ElementReport& e : r.elements) {
    out << "  " << e.resource << " " << e.element << " (" << e.file;
    if (e.keys.size() > 1) out << ", once per core";
    out << "): " << StatusName(e.status) << "\n";
    if (e.facts) {
      out << "      " << e.facts->format << ", " << e.facts->rate << " Hz, "
          << e.facts->channels
          << (e.facts->channels == 1 ? " channel" : " channels");
      if (e.facts->stats) {
        const SoundStats& s = *e.facts->stats;
        out << ", " << Fixed(s.seconds, 3) << " s, peak "
            << Fixed(s.PeakDb(), 1) << " dBFS, loop seam step "
            << Fixed(s.seam_step, 3) << " (inside " << Fixed(s.typical_step, 3)
            << ")";
      }
      out << "\n";
    }
    if (!e.reason.empty()) out << "      silent: " << e.reason << "\n";
    for (const std::string& w : e.warnings)
      out << "      warning: " << w << "\n";
  }
  if (!r.ignored.empty()) {
    out << "\nIgnored files:\n";
    for (const IgnoredFile& f : r.ignored) {
      out << "  " << f.name << ": " << f.reason << "\n";
    }
  }
  for (const std::string& w : r.warnings) out << "\nwarning: " << w << "\n";
  out << "\n"
      << (r.EveryElementPlays() ? "Every element plays."
                                : "Some elements would be silent.")
      << "\n";
  return out.str();
}

std::string CheckJson(const CheckReport& r) {
  using nlohmann::json;
  json j;
  j["folder"] = r.folder;
  j["valid"] = r.valid;
  j["every_element_plays"] = r.EveryElementPlays();
  if (r.valid) {
    j["settings"] = {{"UseAverages", r.UseAverages},
                     {"CPUSoundMode", r.CPUSoundMode},
                     {"RAMSoundMode", r.RAMSoundMode},
                     {"DiskSoundMode", r.DiskSoundMode},
                     {"SlideInterval", r.SlideInterval},
                     {"FrequencyFluctuation", r.FrequencyFluctuation}};
    for (const ResourceElement& row : kResourceElements) {
      const std::size_t index = IndexOf(row.resource);
      if (r.has_resource[index]) {
        j["settings"][row.mode_key] = r.resource_modes[index];
        j["optional_elements"].push_back(kResourceNames[index]);
      }
    }
    j["extension"] = r.extension;
    j["extension_reason"] = r.extension_reason;
    j["has_disk_sounds"] = r.has_disk_sounds;
    j["elements"] = json::array();
    for (const ElementReport& e : r.elements) {
      json je = {{"resource", e.resource}, {"element", e.element},
                 {"file", e.file},         {"keys", e.keys},
                 {"mode", e.mode},         {"status", StatusName(e.status)},
                 {"reason", e.reason},     {"warnings", e.warnings}};
      if (e.facts) {
        je["format"] = e.facts->format;
        je["rate"] = e.facts->rate;
        je["channels"] = e.facts->channels;
        if (e.facts->stats) {
          const SoundStats& s = *e.facts->stats;
          je["frames"] = s.frames;
          je["seconds"] = s.seconds;
          je["peak_dbfs"] = s.PeakDb();
          je["seam_step"] = s.seam_step;
          je["typical_step"] = s.typical_step;
          je["seam_clicks"] = s.SeamClicks();
        }
      }
      j["elements"].push_back(je);
    }
    j["ignored"] = json::array();
    for (const IgnoredFile& f : r.ignored) {
      j["ignored"].push_back({{"name", f.name}, {"reason", f.reason}});
    }
    j["warnings"] = r.warnings;
  }
  return j.dump(2) + "\n";
}

}  // namespace veska::pack
