// The program on a Linux desktop: picks the bindings once and hands them to
// the portable start-up, which never returns.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/linux/working_folder.h"
#include "app/listen_to.h"
#include "app/startup.h"
#include "monitor/linux/linux_resource_sensors.h"
#include "monitor/linux/proc_counter_library.h"
#include "monitor/remote/linux/curl_fetcher.h"
#include "monitor/remote/remote_counter_library.h"
#include "shell/qt/qt_shell.h"
#include "sound/decoders.h"
#include "sound/linux/linux_sound_device.h"

int main(int argc, char** argv) {
  const veska::FolderPlaces places = veska::EnterWorkingFolder();
  // The sources of sources.ini, each behind its own worker and HTTP client.
  const veska::SourcesFile sources = veska::ReadSourcesFile(stderr);
  veska::WarnIfReadableByOthers(veska::kSourcesFileName, sources.holds_secret,
                                stderr);
  const auto remotes = veska::MakeRemoteCounterLibraries(
      sources.sources, [] { return std::make_unique<veska::CurlFetcher>(); });
  veska::ProcCounterLibrary counters;
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

  std::string error;
  std::unique_ptr<veska::QtShell> shell = veska::QtShell::Create(&error);
  if (shell == nullptr) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (!places.config_home.empty()) {
    shell->SetAutostartFolder(places.config_home / "autostart");
  }
  // The process ends inside the shell while these still live.
  veska::LinuxSoundDevice device;
  veska::LinuxResourceSensors sensors(
      veska::LinuxResourceSensors::RootsFromEnvironment());
  const veska::SoundDecoder decoders[] = {veska::OggVorbisDecoder,
                                          veska::FlacDecoder};
  veska::RunProgram({veska::ChosenCounters(listen, counters), device, *shell,
                     decoders, &sensors, listen.choices, listen.current});
}
