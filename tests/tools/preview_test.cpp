// A preview sounds as the program does at the same loads: the program's real
// start-up and main loop over fake counters and the mixer on one side,
// veska-pack's rendering on the other, both measured alike.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "app/main_loop.h"
#include "app/startup.h"
#include "audio_analysis.h"
#include "command_line.h"
#include "fake_counter_library.h"
#include "pack_test_files.h"
#include "prefs/preferences_store.h"
#include "shell/script/scripted_shell.h"
#include "sound/decoders.h"
#include "sound/mixer/mixer.h"
#include "sound/sound_engine.h"

namespace veska::testing {
namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kPhaseMs = 12000;

// The program at CPU 60 % then 20 % on both cores, RAM at 40 %, master
// volume 0.5, recorded from its mixer.
e2e::Recording RecordProgram(const std::string& pack,
                             const std::filesystem::path& work) {
  ScopedWorkingFolder in(work);
  WriteFile("settings.ini", "[Settings]\nPath = " + pack + "\nVolume = 0.5\n");
  FakeCounterLibrary counters;
  counters.processors = 2;
  counters.memory = {16ull << 30, (16ull << 30) * 6 / 10};
  SoftwareMixer mixer(kRate);
  SoundEngine engine(&mixer, nullptr);
  PreferencesStore prefs;
  ScriptedShell shell;
  AppState state;
  state.services = {&counters, &engine, &shell, &prefs};

  e2e::Recording rec{static_cast<int>(kRate), 2, {}};
  shell.OnWait([&](uint32_t now) {
    const double load = now < kPhaseMs ? 60 : 20;
    counters.SetCoreLoad(0, load);
    counters.SetCoreLoad(1, load);
    const std::size_t frames = uint64_t(now) * kRate / 1000;
    const std::size_t at = rec.samples.size();
    if (2 * frames <= at) return;
    rec.samples.resize(2 * frames);
    mixer.Render(rec.samples.data() + at,
                 static_cast<uint32_t>(frames - at / 2));
  });
  const SoundDecoder decoders[] = {OggVorbisDecoder, FlacDecoder};
  StartUp(state, decoders);
  while (shell.ElapsedMs() < 2 * kPhaseMs) RunMainLoopPass(state);
  return rec;
}

TEST(PreviewTest, PitchAndLoudnessMatchTheProgramAtTheSameLoads) {
  TempFolder root;
  // CPU as pitch, RAM as loudness, each a pure tone of its own.
  const std::string pack =
      MakePack(root.path(), "pitch", "CPUSoundMode=1\nRAMSoundMode=0\n",
               {{"cpu.wav", SineWave(22050, 441, 1.0)},
                {"ram.wav", SineWave(22050, 150, 1.0)}});
  const e2e::Recording program = RecordProgram(pack, root.path());

  const std::string wav = (root.path() / "preview.wav").string();
  std::ostringstream out, err;
  ASSERT_EQ(pack::RunVeskaPack({"preview", pack, "-o", wav, "--volume", "50",
                                "--load", "12:cpu=60,ram=40;12:cpu=20"},
                               out, err),
            0)
      << err.str();
  e2e::Recording preview;
  std::string error;
  ASSERT_TRUE(e2e::ReadWavFile(wav, &preview, &error)) << error;
  ASSERT_EQ(preview.rate, static_cast<int>(kRate));
  EXPECT_NEAR(preview.Seconds(), 24.0, 0.01);

  // Windows after both slides have settled; pitch mode plays the 441 Hz tone
  // at (level x 500 + 22050) / 22050 times its pitch.
  const struct {
    double from, to, cpu_hz;
  } windows[] = {{8, 12, 441 * 52050 / 22050.0},
                 {20, 24, 441 * 32050 / 22050.0}};
  for (const auto& w : windows) {
    SCOPED_TRACE(w.from);
    const double heard =
        e2e::DominantPitch(program, e2e::Window(program, w.from, w.to), 400);
    const double previewed =
        e2e::DominantPitch(preview, e2e::Window(preview, w.from, w.to), 400);
    EXPECT_NEAR(heard, w.cpu_hz, w.cpu_hz * 0.005);
    EXPECT_NEAR(previewed, heard, heard * 0.002);
    for (int channel = 0; channel < 2; ++channel) {
      const double a =
          e2e::ChannelRms(program, channel, e2e::Window(program, w.from, w.to));
      const double b =
          e2e::ChannelRms(preview, channel, e2e::Window(preview, w.from, w.to));
      ASSERT_GT(a, 0.01);
      EXPECT_NEAR(20 * std::log10(b / a), 0.0, 0.1) << "channel " << channel;
    }
  }
}

TEST(PreviewTest, TheOptionalElementsFollowTheirScriptedLoads) {
  TempFolder root;
  // The network as loudness, the GPU as pitch, each a tone of its own.
  const std::string pack =
      MakePack(root.path(), "more", "RAMSoundMode=0\nGPUSoundMode=1\n",
               {{"cpu.wav", SineWave(22050, 441, 1.0, 0.0)},
                {"ram.wav", SineWave(22050, 441, 1.0, 0.0)},
                {"net.wav", SineWave(22050, 150, 1.0)},
                {"gpu.wav", SineWave(22050, 441, 1.0)}});
  const std::string wav = (root.path() / "preview.wav").string();
  std::ostringstream out, err;
  ASSERT_EQ(pack::RunVeskaPack({"preview", pack, "-o", wav, "--volume", "50",
                                "--load", "10:net=0,gpu=40;10:net=80"},
                               out, err),
            0)
      << err.str();
  e2e::Recording preview;
  std::string error;
  ASSERT_TRUE(e2e::ReadWavFile(wav, &preview, &error)) << error;
  const double gpu_hz = 441 * (40 * 500 + 22050) / 22050.0;
  EXPECT_NEAR(e2e::DominantPitch(preview, e2e::Window(preview, 6, 10), 300),
              gpu_hz, gpu_hz * 0.005);
  // The GPU tone alone, then the network's beside it at level 80 of 100.
  const double quiet = e2e::ChannelRms(preview, 0, e2e::Window(preview, 6, 10));
  const double loud = e2e::ChannelRms(preview, 0, e2e::Window(preview, 16, 20));
  EXPECT_GT(loud, quiet * 1.2) << quiet << " " << loud;
}

}  // namespace
}  // namespace veska::testing
