#include "preview.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/app_state.h"
#include "app/main_loop.h"
#include "app/resource_items.h"
#include "monitor/load_sampling.h"
#include "prefs/preferences_store.h"
#include "shell/script/scripted_shell.h"
#include "sound/decoders.h"
#include "sound/mixer/mixer.h"
#include "sound/sound_engine.h"
#include "soundpack/sonification.h"
#include "soundpack/soundpack_loader.h"

namespace veska::pack {
namespace {

constexpr uint64_t kTotalRam = 16ull << 30;

// Counters that read the load script at the shell's clock. Like the
// platform's rate counters, a value needs two collections of its query, and
// holds what the last collection saw.
class ScriptedCounters : public CounterLibrary {
 public:
  ScriptedCounters(const LoadScript& script, ShellServices& clock, int cores)
      : script_(script), clock_(clock), cores_(cores) {}

  int32_t OpenQuery(std::uintptr_t, CounterQuery* query) override {
    *query = ++queries_;
    return kCounterOk;
  }
  int32_t AddCounter(CounterQuery query, const std::string& path,
                     std::uintptr_t, CounterHandle* counter) override {
    int source = -2;
    if (path == "\\LogicalDisk(_Total)\\% Disk Time") source = -1;
    for (int n = 0; n < cores_; ++n) {
      if (path == "\\Processor(" + std::to_string(n) + ")\\% Processor Time") {
        source = n;
      }
    }
    if (query == 0 || source == -2) {
      *counter = 0;
      return kCounterNotFound;
    }
    counters_.push_back({query, source, 0});
    *counter = counters_.size();
    return kCounterOk;
  }
  int32_t CollectQueryData(CounterQuery query) override {
    if (query == 0) return kCounterInvalidHandle;
    ++collections_[query];
    const LoadPoint load = script_.At(Now());
    for (Counter& c : counters_) {
      if (c.query != query) continue;
      c.value = c.source < 0 ? load.disk : load.cores[c.source];
    }
    return kCounterOk;
  }
  int32_t GetFormattedCounterValue(CounterHandle counter, uint32_t,
                                   FormattedCounterValue* value) override {
    if (counter == 0 || counter > counters_.size()) {
      return kCounterInvalidHandle;
    }
    const Counter& c = counters_[counter - 1];
    if (collections_[c.query] < 2) {
      value->status = kCounterInvalidData;
      return kCounterInvalidData;
    }
    value->status = kCounterOk;
    value->value = c.value;
    return kCounterOk;
  }
  int32_t CloseQuery(CounterQuery) override { return kCounterOk; }
  bool HasNameLookup() const override { return true; }
  int32_t LookupPerfNameByIndex(uint32_t index, char* buffer,
                                uint32_t* buffer_chars) override {
    return LookupEnglishCounterName(index, buffer, buffer_chars);
  }
  uint32_t ProcessorCount() override { return static_cast<uint32_t>(cores_); }
  bool GetMemoryStatus(MemoryStatus* status) override {
    const double used = std::clamp(script_.At(Now()).ram, 0.0, 100.0) / 100;
    status->total_physical = kTotalRam;
    status->available_physical =
        static_cast<uint64_t>(std::llround(kTotalRam * (1 - used)));
    return true;
  }

 private:
  struct Counter {
    CounterQuery query;
    int source;  // core, or -1 for the disk
    double value;
  };
  double Now() const { return clock_.ElapsedMs() / 1000.0; }

  const LoadScript& script_;
  ShellServices& clock_;
  int cores_;
  CounterQuery queries_ = 0;
  std::vector<Counter> counters_;
  std::map<CounterQuery, int> collections_;
};

// The optional elements' figures that give the script's loads: the script
// speaks in loads, so the tool stays on the mapping's scale.
class ScriptedSensors : public ResourceSensors {
 public:
  ScriptedSensors(const LoadScript& script, ShellServices& clock)
      : script_(script), clock_(clock) {}

  void Prepare(Resource) override {}
  void Release(Resource) override {}
  ResourceReading Read(Resource resource) override {
    const double load =
        std::clamp(script_.At(clock_.ElapsedMs() / 1000.0)
                       .resources[static_cast<std::size_t>(resource)],
                   0.0, 100.0);
    switch (resource) {
      case Resource::kNetwork:  // 1 kB/s to 1 GB/s, six decades
        return {true, 1e3 * std::pow(10.0, load * 6 / 100), true};
      case Resource::kGpu:
        return {true, load, true};
      case Resource::kTemperature:  // 30 to 100 degrees
        return {true, 30 + load * 0.7, true};
      case Resource::kBattery:
        return {true, 100 - load, false};
    }
    return {};
  }

 private:
  const LoadScript& script_;
  ShellServices& clock_;
};

// Each wait of the main loop is the time the sounds play as the pass left
// them: the mixer renders it before the clock moves on.
class RenderingShell : public ScriptedShell {
 public:
  RenderingShell(SoftwareMixer& mixer, Preview& out, uint32_t end_ms,
                 const PreviewProgress& progress)
      : mixer_(mixer), out_(out), end_ms_(end_ms), progress_(progress) {}

  int32_t WaitEvent(uint32_t timeout_ms) override {
    const uint32_t now = ElapsedMs();
    timeout_ms = std::min(timeout_ms, end_ms_ - std::min(now, end_ms_));
    const uint64_t until =
        uint64_t(now + timeout_ms) * mixer_.OutputRate() / 1000;
    if (until > rendered_) {
      const std::size_t at = out_.stereo.size();
      out_.stereo.resize(at + 2 * (until - rendered_));
      mixer_.Render(out_.stereo.data() + at,
                    static_cast<uint32_t>(until - rendered_));
      rendered_ = until;
    }
    if (progress_ && (now + timeout_ms) / 5000 != now / 5000) {
      progress_((now + timeout_ms) / 1000.0, end_ms_ / 1000.0);
    }
    return ScriptedShell::WaitEvent(timeout_ms);
  }

 private:
  SoftwareMixer& mixer_;
  Preview& out_;
  uint32_t end_ms_;
  PreviewProgress progress_;
  uint64_t rendered_ = 0;
};

}  // namespace

bool RenderPreview(const std::string& folder, const LoadScript& script,
                   const PreviewOptions& options,
                   const PreviewProgress& progress, Preview* out,
                   std::string* error) {
  SoftwareMixer mixer(options.rate);
  out->rate = mixer.OutputRate();
  out->stereo.clear();
  const auto end_ms =
      static_cast<uint32_t>(std::llround(script.Seconds() * 1000));
  out->stereo.reserve(size_t(2) * (uint64_t(end_ms) * out->rate / 1000 + 1));
  RenderingShell shell(mixer, *out, end_ms, progress);
  shell.SetEndMs(end_ms + 1000);
  ScriptedCounters counters(script, shell, std::max(1, options.cores));
  ScriptedSensors sensors(script, shell);
  SoundEngine engine(&mixer, nullptr);
  PreferencesStore prefs;

  // Start-up as the program runs it, without settings file or tray.
  AppState state;
  state.services = {&counters, &engine, &shell, &prefs, &sensors};
  state.Volume = options.volume;
  state.soundpack.Random.seed(options.seed);
  if (SetUpDiskCounter(state.monitor, counters) == 0 ||
      SetUpCpuCounters(state.monitor, counters) == 0) {
    *error = "the scripted load could not be set up";
    return false;
  }
  engine.Open();
  engine.RegisterDecoder(OggVorbisDecoder);
  engine.RegisterDecoder(FlacDecoder);
  const auto per_core =
      static_cast<std::size_t>(std::max(0, state.monitor.LastCoreIndex + 2));
  state.soundpack.CoreLevels.assign(per_core, 0);
  state.soundpack.CoreTargets.assign(per_core, 0);
  state.soundpack.CoreSliding.assign(per_core, 0);
  if (!LoadSoundpackIfValid(state.soundpack, state.monitor,
                            state.services.ForSoundpack(), folder)) {
    *error = folder + " is not a soundpack: it has no readable prefs.ini";
    return false;
  }
  FollowSoundpackResources(state);
  const uint32_t now = shell.ElapsedMs();
  state.LastTooltipTime = state.LastSampleTime = state.LastSlideTime = now;
  StartSounds(state.soundpack, state.monitor, state.Switches(), engine);

  while (shell.ElapsedMs() < end_ms) RunMainLoopPass(state);
  engine.Release(AllSounds);
  engine.Close();
  return true;
}

bool WritePreviewWav(const Preview& preview, const std::string& path) {
  std::ofstream out(
      std::filesystem::path(std::u8string(path.begin(), path.end())),
      std::ios::binary);
  if (!out) return false;
  const auto put = [&out](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>(value >> 8 * i));
  };
  const auto data_bytes = static_cast<uint32_t>(preview.stereo.size() * 2);
  out.write("RIFF", 4);
  put(36 + data_bytes, 4);
  out.write("WAVEfmt ", 8);
  put(16, 4);
  put(1, 2);  // PCM
  put(2, 2);
  put(preview.rate, 4);
  put(preview.rate * 4, 4);
  put(4, 2);
  put(16, 2);
  out.write("data", 4);
  put(data_bytes, 4);
  std::vector<char> bytes(data_bytes);
  for (std::size_t i = 0; i < preview.stereo.size(); ++i) {
    const float v = std::clamp(preview.stereo[i], -1.0f, 1.0f);
    const auto s = static_cast<int16_t>(std::lrint(v * 32767.0f));
    bytes[2 * i] = static_cast<char>(s & 0xFF);
    bytes[2 * i + 1] = static_cast<char>((s >> 8) & 0xFF);
  }
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace veska::pack
