// The program on Windows: picks the bindings once and hands them to the
// portable start-up, which never returns. It works in the folder it is
// started in, where it keeps "settings.ini" and finds "VESKA.bmp" and
// "packs", unless that folder is not set up for it and its own is.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/listen_to.h"
#include "app/startup.h"
#include "app/windows/working_folder.h"
#include "monitor/remote/remote_counter_library.h"
#include "monitor/remote/windows/winhttp_fetcher.h"
#include "monitor/windows/pdh_counter_library.h"
#include "monitor/windows/pdh_resource_sensors.h"
#include "shell/win32/win32_shell.h"
#include "sound/decoders.h"
#include "sound/dsound/dsound_sound_device.h"

int main(int argc, char** argv) {
  veska::EnterWindowsWorkingFolder();
  // The sources of sources.ini, each behind its own worker and HTTP client.
  const veska::SourcesFile sources = veska::ReadSourcesFile(stderr);
  const auto remotes = veska::MakeRemoteCounterLibraries(sources.sources, [] {
    return std::make_unique<veska::WinHttpFetcher>();
  });
  // The process ends inside the shell while these still live.
  veska::Win32Shell shell;
  veska::PdhCounterLibrary counters;
  std::vector<veska::ListenChoice> remote_choices;
  for (const auto& remote : remotes) {
    remote_choices.push_back(
        {remote->SourceName(), remote.get(), remote.get()});
  }
  veska::ListenState listen;
  if (!veska::SetUpListenState(counters, remote_choices, sources, argc, argv,
                               &listen, stderr)) {
    return 2;
  }
  veska::PdhResourceSensors sensors;
  veska::DsoundSoundDevice device;
  const veska::SoundDecoder decoders[] = {veska::OggVorbisDecoder,
                                          veska::FlacDecoder};
  veska::RunProgram({veska::ChosenCounters(listen, counters), device, shell,
                     decoders, &sensors, listen.choices, listen.current});
}
