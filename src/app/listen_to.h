// Choosing what to hear: the "Listen to" sub-menu, the switch between
// bindings without a restart, and what the tooltip says of a source.
#ifndef VESKA_APP_LISTEN_TO_H_
#define VESKA_APP_LISTEN_TO_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "monitor/remote/sources_file.h"

namespace veska {

// The sub-menu, when there is a source to choose.
void AddListenMenu(AppState& state);

// Carries out a "Listen to" item; false for an id that is none.
bool RunListenCommand(AppState& state, int32_t id);

// Listens to choice `index` from now on: the counters set up anew, the
// pack's per-core sounds loaded for the new number of voices, and the
// choice kept in "sources.ini". "settings.ini" is not touched.
void ListenTo(AppState& state, std::size_t index);

// What the tooltip starts with: "VESKA" for this computer, else the source's
// name and how many hosts answer ("web: 7 of 8 hosts").
std::string ListenTooltipHead(const AppState& state);

// A fleet whose hosts came or went is set up again for its new number of
// voices; called on the tooltip's timer.
void FollowListenedSource(AppState& state);

// Fills `listen` with this computer (`local`) and `sources`, when there is
// any, and picks the choice to start with (PickListenChoice), saying any
// problem on `messages`. False when the command line names no source.
bool SetUpListenState(CounterLibrary& local,
                      const std::vector<ListenChoice>& sources,
                      const SourcesFile& file, int argc,
                      const char* const* argv, ListenState* listen,
                      std::FILE* messages);

// The choice to start with: `--listen NAME` in `args` first, else the one
// kept in "sources.ini", else this computer. False with `error` set for a
// name that is no source.
bool PickListenChoice(const ListenState& listen, const SourcesFile& sources,
                      int argc, const char* const* argv, std::size_t* index,
                      std::string* error);

// Reads "sources.ini" from the working folder (nothing when there is
// none), telling each problem once on `messages`.
SourcesFile ReadSourcesFile(std::FILE* messages);

}  // namespace veska

#endif  // VESKA_APP_LISTEN_TO_H_
