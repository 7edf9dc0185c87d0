// Start-up, the timers and tooltip of the loop, the settings file, and every
// way out.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <map>
#include <random>

#include "app_rig.h"

namespace veska::testing {
namespace {

TEST_F(AppTest, FirstRunAsksForAPackPlaysAtOnceAndSavesOnlyAfterCommands) {
  count_writes = true;
  shell.AnswerFolder(Pack("avg"));
  At(0, [&] { EXPECT_TRUE(Playing("cpu") && Playing("ram")); });
  // "Push To Play": held with auto-repeat from 1000 to 2000, then one press.
  for (uint32_t t = 1000; t <= 2000; t += 30) shell.QueueHotkey(t);
  At(2480, [&] {
    EXPECT_TRUE(Playing("cpu") && Playing("ram"));
    EXPECT_EQ(Live("cpu")[0]->play_count, 2);  // restarted by the press
    EXPECT_EQ(writes, 0);
  });
  At(2520, [&] { EXPECT_TRUE(Silent()); });
  shell.QueueHotkey(5000);
  At(5400, [&] { EXPECT_TRUE(Playing("cpu")); });
  At(5600, [&] { EXPECT_TRUE(Silent()); });
  shell.QueueMenuChoice(6000, kMenuVolume10);  // already set: saved anyway
  shell.QueueMenuChoice(6000, kMenuVolume10);
  shell.QueueTrayClick(6100);
  At(6200, [&] { EXPECT_EQ(writes, 2); });
  shell.QueueMenuChoice(7000, kMenuExit);
  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(shell.requester_calls().at(0),
            "Select a soundpack|" + fs::current_path().string() + "/packs");
  EXPECT_TRUE(shell.IsChecked(kMenuPushToPlay));
  EXPECT_TRUE(shell.IsChecked(kMenuVolume10));
  EXPECT_FALSE(shell.IsChecked(kMenuCustomVolume) ||
               shell.HasMenuItem(kMenuDisk));
  EXPECT_EQ(shell.hotkey_modifiers() * 1000 + shell.hotkey_key(), 6122);
  EXPECT_EQ(shell.popup_count(), 1);
  std::vector<std::string> start;
  for (const std::string& call : shell.calls()) {
    if (call.find("Popup") == std::string::npos) start.push_back(call);
    if (call == "RegisterGlobalHotkey") break;
  }
  EXPECT_THAT(start,
              ::testing::ElementsAre(
                  "LoadImage VESKA.bmp", "FolderRequester Select a soundpack",
                  "OpenHiddenWindow VESKA", "AddTrayIcon 1", "SetTrayTooltip 1",
                  "RegisterGlobalHotkey"));
  EXPECT_EQ(shell.tooltips().at(0), "VESKA");
}

TEST_F(AppTest, TimersNeedMoreThanTheirIntervalNeverCatchUpAndFeedTheTooltip) {
  const uint32_t t0 = 0xFFFFF000u;  // the clock wraps during the run
  shell.SetClock(t0);
  counters.memory = {200, 105};  // 47.5 %
  const double loads[] = {10.4, 20.5, 30.6, 40.5};
  for (int core = 0; core < 4; ++core) counters.SetCoreLoad(core, loads[core]);
  counters.SetDiskLoad(80);  // never sampled: no disk sounds
  WriteSettings(Pack("avg"), "RefreshTime = 250\n");
  shell.SetModalDurationMs(3000);  // a long pass from 2000 to 5000
  shell.AnswerText("50");
  shell.QueueMenuChoice(t0 + 2000, kMenuCustomVolume);
  At(t0 + 8000, [&] { counters.memory = {200, 107}; });  // 46.5 %
  shell.SetEndMs(t0 + 12000);
  std::vector<uint32_t> samples;
  int seen = 0;
  on_wait = [&](uint32_t now) {
    if (std::exchange(seen, counters.collections[state.monitor.CpuQuery]) !=
        seen) {
      samples.push_back(now);
    }
  };
  EXPECT_EQ(Run(), ScriptedShell::kScriptEnded);
  int late = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    EXPECT_GT(samples[i] - samples[i - 1], 250u);
    late += samples[i] - samples[i - 1] > 260;
  }
  EXPECT_EQ(late, 1) << "only the dialog's pass is late";
  EXPECT_GT(samples.size(), 30u);
  EXPECT_THAT(shell.tooltips(),
              ::testing::ElementsAre(
                  "VESKA", "VESKA - AVG CPU: 25% - RAM: 48% - Disk: 0",
                  "VESKA - AVG CPU: 25% - RAM: 46% - Disk: 0"));
}

TEST(EventWait, LastsUntilTheNearestDeadlineAndNeverLessThanAPace) {
  AppState state;
  const uint32_t t = 0xFFFFFFF0u;  // stamps before the clock wraps
  state.LastTooltipTime = state.LastSampleTime = state.LastSlideTime = t;
  state.TooltipInterval = 5000;
  state.RefreshTime = 500;
  state.soundpack.SlideInterval = 100;
  EXPECT_EQ(EventWaitMs(state, t + 40), 61u);  // the slide, due after 101
  state.SlidesSkipped = true;
  EXPECT_EQ(EventWaitMs(state, t + 40), 461u);
  state.SlidesSkipped = false;
  state.LastSlideTime = t + 60;
  EXPECT_EQ(EventWaitMs(state, t + 100), 61u);
  state.LastSlideTime = t + 420;
  EXPECT_EQ(EventWaitMs(state, t + 450), 51u);  // now the sample's turn
  EXPECT_EQ(EventWaitMs(state, t + 700), 0u);   // overdue
  state.LastSlideTime = t + 60;
  state.LastHotkeyTime = t + 90;
  state.HotkeyActive = 1;
  state.KeyboardMode = 0;  // only "Push To Play" releases
  EXPECT_EQ(EventWaitMs(state, t + 100), 61u);
  state.KeyboardMode = 1;
  state.PushReleaseDelay = 30;
  EXPECT_EQ(EventWaitMs(state, t + 100), 21u);
  // Hand-edited intervals of 0 or less wait as long as the old poll did.
  state.HotkeyActive = 0;
  state.LastSampleTime = t + 60;
  for (int32_t interval : {0, -1, INT32_MIN}) {
    state.RefreshTime = interval;
    EXPECT_EQ(EventWaitMs(state, t + 60), 10u);
    EXPECT_EQ(EventWaitMs(state, t + 67), 3u);
  }
  state.RefreshTime = state.soundpack.SlideInterval = state.TooltipInterval =
      INT32_MAX;
  state.LastSampleTime = state.LastSlideTime = t;
  EXPECT_EQ(EventWaitMs(state, t), uint32_t{INT32_MAX});
}

TEST_F(AppTest, AnIdleLoopWakesOnlyForItsTimersAndAZeroRefreshTimeKeepsAPace) {
  WriteSettings(Pack("avg"));
  shell.SetEndMs(10000);
  EXPECT_EQ(Run(), ScriptedShell::kScriptEnded);
  // 99 slides, 19 samples and a tooltip in ten seconds, not 1000 polls.
  EXPECT_LE(shell.wait_count(), 121);

  WriteSettings(Pack("avg"), "RefreshTime = 0\n");
  state = AppState();
  state.services = {&counters, &engine, &shell, &prefs};
  const int waits = shell.wait_count();
  shell.SetEndMs(shell.now() + 1000);
  std::vector<uint32_t> samples;
  int seen = 0;
  on_wait = [&](uint32_t now) {
    // A spinning loop would never end the script.
    if (shell.wait_count() - waits > 1000) throw ProcessExit{1};
    if (std::exchange(seen, counters.collections[state.monitor.CpuQuery]) !=
        seen) {
      samples.push_back(now);
    }
  };
  EXPECT_EQ(Run(), ScriptedShell::kScriptEnded);
  // Every 10 ms, and in the passes the ten slides make anyway.
  EXPECT_GE(samples.size(), 95u);
  EXPECT_LE(samples.size(), 111u);
  EXPECT_LE(shell.wait_count() - waits, 112);
}

// One scripted run for the slide tests: a test body of its own so that two
// runs can be compared in one test.
struct SlideRun : AppTest {
  void TestBody() override {}

  // Loads that settle, stay, then change in small steps at odd times, a menu
  // volume, a mute and unmute, a push-to-play press that is released, and a
  // custom volume typed into a dialog that holds the loop up.
  // `every_tick` wakes the loop for every slide tick and skips none, as the
  // loop did before it slept through ticks that change nothing. Returns the
  // device calls that changed something, with their times.
  std::vector<std::string> Go(const std::string& pack, bool every_tick) {
    WriteSettings(Pack(pack));
    counters.memory = {200, 140};  // 30 %
    for (int core = 0; core < 4; ++core) counters.SetCoreLoad(core, 6 * core);
    counters.SetDiskLoad(12);
    std::mt19937 random(7);
    for (uint32_t t = 15037; t < 21000; t += 137 + random() % 500) {
      const int step = static_cast<int>(random() % 7) - 3;
      At(t, [this, step] {
        counters.memory.available_physical -= 2 * step;
        counters.SetCoreLoad(1, 6 + 2 * step);
        counters.SetDiskLoad(12 + step);
      });
    }
    shell.QueueMenuChoice(22050, kMenuVolume50);
    shell.QueueHotkey(23030);
    shell.QueueHotkey(24020);
    shell.QueueMenuChoice(25010, kMenuPushToPlay);
    shell.QueueHotkey(26000);
    shell.SetModalDurationMs(333);
    shell.AnswerText("30");
    shell.QueueMenuChoice(27010, kMenuCustomVolume);
    shell.SetEndMs(28000);
    if (every_tick) {
      shell.before_wait = [this] {
        state.SlidesSkipped = false;
        shell.wakes.push_back(state.LastSlideTime + 101);
      };
    }
    std::vector<std::string> changes;
    std::map<std::pair<std::size_t, std::string>, std::string> last;
    std::vector<std::size_t> seen;
    on_wait = [&](uint32_t now) {
      waits.push_back(now);
      seen.resize(device.buffers.size());
      for (std::size_t i = 0; i < seen.size(); ++i) {
        const auto& calls = device.buffers[i]->calls;
        for (; seen[i] < calls.size(); ++seen[i]) {
          const std::string& call = calls[seen[i]];
          const std::string kind = call.substr(0, call.find(' '));
          if (kind.starts_with("Set") &&
              std::exchange(last[{i, kind}], call) == call) {
            continue;
          }
          changes.push_back(std::to_string(now) + " #" + std::to_string(i) +
                            " " + call);
        }
      }
    };
    EXPECT_EQ(Run(), ScriptedShell::kScriptEnded);
    return changes;
  }

  std::vector<uint32_t> waits;
};

TEST(SlidesAtRest, AreSleptThroughYetEveryLevelMovesOnTheSameGridAsBefore) {
  for (const std::string pack : {"disk", "cores"}) {
    SCOPED_TRACE(pack);
    // One run at a time: each works in a folder of its own.
    int steady[2] = {};
    std::vector<std::string> heard[2];
    for (bool every_tick : {false, true}) {
      SlideRun run;
      heard[every_tick] = run.Go(pack, every_tick);
      steady[every_tick] =
          std::count_if(run.waits.begin(), run.waits.end(),
                        [](uint32_t t) { return t >= 5000 && t < 15000; });
    }
    const auto [asleep, awake] = std::mismatch(
        heard[0].begin(), heard[0].end(), heard[1].begin(), heard[1].end());
    const auto told = [](auto it, auto& all) {
      return it == all.end() ? std::string("nothing more") : *it;
    };
    EXPECT_TRUE(asleep == heard[0].end() && awake == heard[1].end())
        << "sleeping through ticks: " << told(asleep, heard[0])
        << "; woken for each: " << told(awake, heard[1]);
    // Ten steady seconds: 20 samples and 2 tooltips, where the loop woke 99
    // more times for the ticks.
    EXPECT_LE(steady[0], 22);
    EXPECT_GE(steady[1], 118);
    // The menu's volume is set on the next grid point, not at once.
    EXPECT_TRUE(std::any_of(heard[0].begin(), heard[0].end(), [](auto& c) {
      return c.starts_with("22119 ") && c.find("SetVolume") != c.npos;
    })) << "the menu's volume was not set at 22119";
  }
}

TEST_F(AppTest, StoredSettingsShapeMenuHotkeyAndSoundsAndBytesFollowCommands) {
  // No "KeyboardMode" key: "Normal Toggle", unlike a first run.
  WriteSettings(Pack("cores"),
                "Volume = 0.3\nPlayRAM = 0\nKeyboardModifiers = 3\n"
                "KeyboardKey = 65\n");
  shell.SetImageLoads(false);
  At(0, [&] {
    EXPECT_EQ(Live("cpu_a").size(), 4u);
    EXPECT_TRUE(Playing("cpu_a") && Playing("cpu_b") && !Playing("ram_a"));
    EXPECT_TRUE(shell.IsChecked(kMenuCustomVolume));
    EXPECT_TRUE(shell.IsChecked(kMenuNormalToggle));
  });
  shell.QueueMenuChoice(100, kMenuVolume50);
  shell.QueueMenuChoice(200, kMenuRefreshQuarter + 2);  // "1 second"
  shell.QueueMenuChoice(300, kMenuRam);
  shell.QueueMenuChoice(400, kMenuPushToPlay);
  shell.QueueMenuChoice(500, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(shell.tray_icon_added());
  EXPECT_EQ(shell.hotkey_modifiers() * 1000 + shell.hotkey_key(), 3065);
  EXPECT_EQ(Read("settings.ini"),
            "\xEF\xBB\xBF\r\n[Settings]\r\nPath = " + Pack("cores") +
                "\r\nVolume = 0.5\r\nPlayRAM = 1\r\nPlayCPU = 1\r\n"
                "PlayDisk = 1\r\nRefreshTime = 1000\r\nKeyboardMode = 1\r\n"
                "KeyboardModifiers = 3\r\nKeyboardKey = 65\r\n");
}

TEST_F(AppTest, EmptyStoredPathAsksWhileOtherKeysHoldAndNanVolumeIsDefault) {
  WriteSettings("", "Volume = NaN\nKeyboardMode = 1\nPlayCPU = 0\n");
  shell.AnswerFolder(Pack("disk"));
  shell.QueueMenuChoice(100, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(state.Volume, 0.1f);
  EXPECT_TRUE(shell.IsChecked(kMenuPushToPlay) && shell.IsChecked(kMenuDisk));
  EXPECT_FALSE(shell.IsChecked(kMenuCpu));
}

// "Exit", and the desktop asking the program to end (a close request, the
// session ending), end it the same way.
class EndTest : public AppTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EndTest, FreesSoundsAndClosesQueriesBeforeSaving) {
  fs::create_directory("settings.ini");  // every save fails and says so
  shell.AnswerFolder(Pack("avg"));
  shell.QueueMenuChoice(100, kMenuVolume50);
  if (GetParam()) {
    shell.QueueEvent(200, kEventQuit);
  } else {
    shell.QueueMenuChoice(200, kMenuExit);
  }
  std::vector<std::string> seen;
  shell.on_message = [&](const std::string& text) {
    seen.push_back(text + (device.Live().empty() ? " released" : "") +
                   (counters.closed.size() == 2 ? " closed" : ""));
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(seen, ::testing::ElementsAre(
                        "Can't write settings file.",
                        "Can't write settings file. released closed"));
  EXPECT_EQ(state.Volume, 0.5f);
  EXPECT_TRUE(device.closed && !shell.tray_icon_added());
}
INSTANTIATE_TEST_SUITE_P(ExitOrDesktop, EndTest, ::testing::Bool());

TEST_F(AppTest, SaveThatCannotBeWrittenIsToldAndKeepsTheOldFile) {
  WriteSettings(Pack("avg"));
  const std::string old_content = Read("settings.ini");
  shell.QueueMenuChoice(100, kMenuVolume50);
  shell.QueueMenuChoice(200, kMenuExit);
  // A file size limit in a child stands in for a full disk.
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {100, 100};
    bool ran = setrlimit(RLIMIT_FSIZE, &limit) == 0 && Run() == 0;
    int told = 0;
    for (const auto& message : shell.messages()) {
      told += message.title == "Error" &&
              message.text == "Can't write settings file.";
    }
    _exit(ran && told == 2 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "both saves, after the command and at the exit, must be told";
  EXPECT_EQ(Read("settings.ini"), old_content);
}

TEST_F(AppTest, CancelledChoiceAndCounterFailureEndWithCodeZeroUnsaved) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(shell.messages().at(0).title, "No soundpack selected");
  EXPECT_EQ(shell.messages().at(0).text,
            "You didn't select a soundpack. Exiting program.");
  EXPECT_EQ(shell.messages().at(0).style, kMessageOk);
  EXPECT_TRUE(device.closed && !shell.tray_icon_added());
  counters.open_query_fails = true;
  state = AppState();
  state.services = {&counters, &engine, &shell, &prefs};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(shell.messages().at(1).title, "Failed to initialize counters");
  EXPECT_FALSE(fs::exists("settings.ini"));
}

TEST_F(AppTest, StoredFolderThatIsNoPackAsksAgainAndACancelEndsUnsaved) {
  WriteSettings(fs::current_path().string() + "/");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(shell.messages().size(), 2u);
  EXPECT_EQ(shell.messages()[0].text,
            "Not a valid soundpack. Please choose a valid soundpack folder.");
  EXPECT_EQ(shell.messages()[1].title, "No soundpack selected");
  EXPECT_THAT(shell.calls(),
              ::testing::ElementsAre("LoadImage VESKA.bmp", "ShowMessage Error",
                                     "FolderRequester Select a soundpack",
                                     "ShowMessage No soundpack selected",
                                     "RemoveTrayIcon 1", "ExitProcess 0"));
  EXPECT_TRUE(device.closed);
}

}  // namespace
}  // namespace veska::testing
