// The program on a Linux desktop: picks the bindings once and hands them to
// the portable start-up, which never returns.
#include <cstdio>
#include <memory>
#include <string>

#include "app/linux/working_folder.h"
#include "app/startup.h"
#include "monitor/linux/linux_resource_sensors.h"
#include "monitor/linux/proc_counter_library.h"
#include "shell/qt/qt_shell.h"
#include "sound/decoders.h"
#include "sound/linux/linux_sound_device.h"

int main() {
  veska::EnterWorkingFolder();
  std::string error;
  std::unique_ptr<veska::QtShell> shell = veska::QtShell::Create(&error);
  if (shell == nullptr) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The process ends inside the shell while these still live.
  veska::ProcCounterLibrary counters;
  veska::LinuxSoundDevice device;
  veska::LinuxResourceSensors sensors(
      veska::LinuxResourceSensors::RootsFromEnvironment());
  const veska::SoundDecoder decoders[] = {veska::OggVorbisDecoder,
                                          veska::FlacDecoder};
  veska::RunProgram({counters, device, *shell, decoders, &sensors});
}
