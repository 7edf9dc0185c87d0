#include "app/listen_to.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/startup.h"
#include "monitor/load_sampling.h"
#include "prefs/preferences_store.h"
#include "prefs/preferences_text.h"
#include "shell/shell_services.h"
#include "sound/sound_engine.h"
#include "soundpack/sonification.h"

namespace veska {
namespace {

// sources.ini is a few lines; anything far larger is not one.
constexpr std::uintmax_t kMaxSourcesBytes = 1u << 20;

void KeepChoice(AppState& state, const std::string& name) {
  PreferencesStore& prefs = *state.services.prefs;
  if (prefs.OpenPreferences(kSourcesFileName) == 0) return;
  prefs.SelectGroup(kListenGroup);
  prefs.WriteString(kListenKey, name);
  prefs.ClosePreferences();
}

void CheckCurrent(AppState& state) {
  for (std::size_t i = 0; i < state.listen.choices.size(); ++i) {
    state.services.shell->SetMenuCheck(
        kMenuListenFirst + static_cast<int32_t>(i), i == state.listen.current);
  }
}

bool SetUpCounters(AppState& state, CounterLibrary& counters) {
  state.services.counters = &counters;
  return SetUpDiskCounter(state.monitor, counters) != 0 &&
         SetUpCpuCounters(state.monitor, counters) != 0;
}

// The counters and the per-core sounds set up again over `next`, the levels
// starting from silence; false, with nothing playing, when the counters
// cannot be set up.
bool SetUpListening(AppState& state, CounterLibrary& next) {
  SoundpackState& soundpack = state.soundpack;
  state.services.sound->Release(AllSounds);
  soundpack.SoundTable.Clear();
  CloseCpuQuery(state.monitor, *state.services.counters);
  CloseDiskQuery(state.monitor, *state.services.counters);
  if (!SetUpCounters(state, next)) return false;
  const std::size_t per_core =
      static_cast<std::size_t>(std::max(0, state.monitor.LastCoreIndex + 2));
  soundpack.CoreLevels.assign(per_core, 0);
  soundpack.CoreTargets.assign(per_core, 0);
  soundpack.CoreSliding.assign(per_core, 0);
  soundpack.CpuSliding = soundpack.RAMSliding = soundpack.DiskSliding = 0;
  if (!LoadSoundpackIfValid(soundpack, state.monitor,
                            state.services.ForSoundpack(), state.Path)) {
    SelectSoundpackOrEnd(state);
  }
  StartSounds(soundpack, state.monitor, state.Switches(),
              *state.services.sound);
  state.SoundsPending = true;
  return true;
}

}  // namespace

void AddListenMenu(AppState& state) {
  if (state.listen.choices.size() < 2) return;
  ShellServices& shell = *state.services.shell;
  shell.OpenSubMenu("Listen to");
  for (std::size_t i = 0; i < state.listen.choices.size(); ++i) {
    shell.AddMenuItem(kMenuListenFirst + static_cast<int32_t>(i),
                      state.listen.choices[i].name);
  }
  CheckCurrent(state);
  shell.CloseSubMenu();
}

bool RunListenCommand(AppState& state, int32_t id) {
  if (id < kMenuListenFirst) return false;
  const auto index = static_cast<std::size_t>(id - kMenuListenFirst);
  if (index >= state.listen.choices.size()) return false;
  ListenTo(state, index);
  return true;
}

void ListenTo(AppState& state, std::size_t index) {
  ListenState& listen = state.listen;
  if (index >= listen.choices.size()) return;
  if (index != listen.current) {
    const std::size_t before = listen.current;
    if (SetUpListening(state, *listen.choices[index].counters)) {
      listen.current = index;
    } else {
      // What was heard before is heard again rather than nothing.
      state.services.shell->ShowMessage(
          "Listen to",
          "VESKA can't read the counters of " + listen.choices[index].name +
              "; it goes on listening to " + listen.choices[before].name + ".",
          kMessageOk);
      if (!SetUpListening(state, *listen.choices[before].counters)) {
        EndForBrokenCounters(state);
      }
    }
    KeepChoice(state, listen.current == 0
                          ? std::string()
                          : listen.choices[listen.current].name);
  }
  CheckCurrent(state);
}

std::string ListenTooltipHead(const AppState& state) {
  const ListenState& listen = state.listen;
  if (listen.current >= listen.choices.size() ||
      listen.choices[listen.current].status == nullptr) {
    return "VESKA";
  }
  const ListenChoice& choice = listen.choices[listen.current];
  const SourceStatus status = choice.status->ReadSourceStatus();
  if (!status.answering) {
    return choice.name + ": not answering (" + status.problem + ")";
  }
  return choice.name + ": " + std::to_string(status.hosts_answering) + " of " +
         std::to_string(status.hosts_total) + " hosts";
}

void FollowListenedSource(AppState& state) {
  ListenState& listen = state.listen;
  if (listen.current >= listen.choices.size()) return;
  const ListenChoice& choice = listen.choices[listen.current];
  if (choice.status == nullptr) return;
  const SourceStatus status = choice.status->ReadSourceStatus();
  if (!status.answering || status.voices <= 0 ||
      status.voices == state.monitor.LastCoreIndex + 1) {
    return;
  }
  if (!SetUpListening(state, *choice.counters)) EndForBrokenCounters(state);
}

bool PickListenChoice(const ListenState& listen, const SourcesFile& sources,
                      int argc, const char* const* argv, std::size_t* index,
                      std::string* error) {
  std::string wanted = sources.listen;
  bool asked = false;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--listen") == 0) {
      wanted = argv[i + 1];
      asked = true;
    }
  }
  *index = 0;
  if (wanted.empty() || EqualsIgnoringAsciiCase(wanted, kThisComputer)) {
    return true;
  }
  for (std::size_t i = 0; i < listen.choices.size(); ++i) {
    if (EqualsIgnoringAsciiCase(listen.choices[i].name, wanted)) {
      *index = i;
      return true;
    }
  }
  *error = "VESKA: there is no source named \"" + wanted + "\" in " +
           kSourcesFileName + ".";
  // A kept choice whose group was since removed is no reason not to start.
  return !asked;
}

bool SetUpListenState(CounterLibrary& local,
                      const std::vector<ListenChoice>& sources,
                      const SourcesFile& file, int argc,
                      const char* const* argv, ListenState* listen,
                      std::FILE* messages) {
  listen->choices.clear();
  if (!sources.empty()) {
    listen->choices.push_back({kThisComputer, &local, nullptr});
    listen->choices.insert(listen->choices.end(), sources.begin(),
                           sources.end());
  }
  std::string error;
  const bool picked =
      PickListenChoice(*listen, file, argc, argv, &listen->current, &error);
  if (!error.empty() && messages != nullptr) {
    std::fprintf(messages, "%s\n", error.c_str());
  }
  return picked;
}

SourcesFile ReadSourcesFile(std::FILE* messages) {
  std::error_code error;
  const std::filesystem::path path(kSourcesFileName);
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kMaxSourcesBytes) return {};
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  SourcesFile file = ReadSourcesText(bytes);
  for (const std::string& problem : file.problems) {
    if (messages != nullptr) {
      std::fprintf(messages, "VESKA: %s: %s\n", kSourcesFileName,
                   problem.c_str());
    }
  }
  return file;
}

}  // namespace veska
