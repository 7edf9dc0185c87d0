// The real start-up and main loop over the scripted shell, fake counters and
// a recording sound device, in a temporary working folder with small packs.
#ifndef VESKA_TESTS_APP_APP_RIG_H_
#define VESKA_TESTS_APP_APP_RIG_H_

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/startup.h"
#include "app/tray_menu.h"
#include "fake_counter_library.h"
#include "prefs/preferences_store.h"
#include "recording_sound_device.h"
#include "shell/script/scripted_shell.h"
#include "sound/sound_engine.h"
#include "temp_folder.h"
#include "wave_image.h"

namespace veska::testing {

namespace fs = std::filesystem;

// Lets a test look at the program at the moment it shows a message.
struct SpyShell : ScriptedShell {
  std::function<void(const std::string&)> on_message = [](auto&) {};
  int32_t ShowMessage(const std::string& title, const std::string& text,
                      int32_t style) override {
    on_message(text);
    return ScriptedShell::ShowMessage(title, text, style);
  }
  // A checkpoint wakes the loop as any message would, so that it sees the
  // program at its own time rather than at the next timer's.
  std::vector<uint32_t> wakes;
  std::function<void()> before_wait = [] {};  // may add to `wakes`
  int32_t WaitEvent(uint32_t timeout_ms) override {
    before_wait();
    for (uint32_t at : wakes) {
      const auto ahead = static_cast<int32_t>(at - ElapsedMs());
      if (ahead > 0) timeout_ms = std::min<uint32_t>(timeout_ms, ahead);
    }
    return ScriptedShell::WaitEvent(timeout_ms);
  }
};

class AppTest : public ::testing::Test {
 protected:
  AppTest() {
    // Element files differ in length so that their buffers can be told apart.
    MakePack("avg", "UseAverages=1\nCPUSoundMode=1\nRAMSoundMode=0", "cpu ram");
    MakePack("disk", "CPUSoundMode=1\nRAMSoundMode=0\nDiskSoundMode=0",
             "cpu ram Disk");
    MakePack("cores", "UseAverages=0\nCPUSoundMode=2\nRAMSoundMode=2",
             "cpu_a cpu_b ram_a ram_b");
    state.services = {&counters, &engine, &shell, &prefs};
    shell.OnWait([this](uint32_t now) {
      if (count_writes && fs::remove("settings.ini")) ++writes;
      for (auto& [at, check] : checkpoints_) {
        if (check && static_cast<int32_t>(now - at) >= 0) {
          std::exchange(check, nullptr)();
        }
      }
      on_wait(now);
    });
  }
  ~AppTest() override { std::fclose(diagnostics_); }

  std::string Pack(const std::string& name) const {
    return (folder_.path() / "packs" / name).string() + "/";
  }
  static void Write(const fs::path& path, const std::string& bytes) {
    WriteFile(path, bytes);
  }
  static std::string Read(const fs::path& path) { return ReadFile(path); }
  void WriteSettings(const std::string& pack, const std::string& lines = "") {
    Write("settings.ini", "[Settings]\nPath = " + pack + "\n" + lines);
  }
  // Start-up, then passes until the process ends; its exit code.
  int Run() {
    try {
      StartUp(state, {});
      for (;;) RunMainLoopPass(state);
    } catch (const ProcessExit& exit) {
      return exit.code;
    }
  }
  // Runs `check` at the first event wait at or after `ms`.
  void At(uint32_t ms, std::function<void()> check) {
    checkpoints_.push_back({ms, std::move(check)});
    shell.wakes.push_back(ms);
  }
  // Live buffers loaded from one element file.
  std::vector<std::shared_ptr<RecordedBuffer>> Live(const std::string& file) {
    auto live = device.Live();
    std::erase_if(live, [&](const auto& b) { return b->size != Bytes(file); });
    return live;
  }
  bool Playing(const std::string& file) {
    const auto live = Live(file);
    return !live.empty() && std::all_of(live.begin(), live.end(), [](auto& b) {
      return b->playing && b->looping;
    });
  }
  bool Silent() {
    const auto live = device.Live();
    return std::none_of(live.begin(), live.end(),
                        [](auto& b) { return b->playing; });
  }

  // A pack in packs/ with these prefs.ini lines and element files.
  void MakePack(const std::string& name, const std::string& prefs,
                const std::string& files) {
    const fs::path folder = folder_.path() / "packs" / name;
    fs::create_directories(folder);
    Write(folder / "prefs.ini", "[soundpack]\n" + prefs + "\n");
    std::istringstream names(files);
    for (std::string file; names >> file;) {
      WriteFile(folder / (file + ".wav"),
                PcmWave(1, 8000, 16, std::vector<uint8_t>(Bytes(file), 0)));
    }
  }

  FakeCounterLibrary counters;
  RecordingSoundDevice device;
  std::FILE* diagnostics_ = std::tmpfile();
  SoundEngine engine{&device, diagnostics_};
  PreferencesStore prefs;
  SpyShell shell;
  AppState state;
  bool count_writes = false;  // count and remove each "settings.ini" seen
  int writes = 0;
  std::function<void(uint32_t now)> on_wait = [](uint32_t) {};

 private:
  static uint32_t Bytes(const std::string& file) {
    uint32_t sum = 0;
    for (char c : file) sum += static_cast<unsigned char>(c);
    return 2 * sum;
  }
  TempFolder folder_;
  ScopedWorkingFolder working_{folder_.path()};
  std::vector<std::pair<uint32_t, std::function<void()>>> checkpoints_;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_APP_APP_RIG_H_
