// The program on Windows: picks the bindings once and hands them to the
// portable start-up, which never returns. It works in the folder it is
// started in, where it keeps "settings.ini" and finds "VESKA.bmp" and
// "packs", unless that folder is not set up for it and its own is.
#include "app/startup.h"
#include "app/windows/working_folder.h"
#include "monitor/windows/pdh_counter_library.h"
#include "monitor/windows/pdh_resource_sensors.h"
#include "shell/win32/win32_shell.h"
#include "sound/decoders.h"
#include "sound/dsound/dsound_sound_device.h"

int main() {
  veska::EnterWindowsWorkingFolder();
  // The process ends inside the shell while these still live.
  veska::Win32Shell shell;
  veska::PdhCounterLibrary counters;
  veska::PdhResourceSensors sensors;
  veska::DsoundSoundDevice device;
  const veska::SoundDecoder decoders[] = {veska::OggVorbisDecoder,
                                          veska::FlacDecoder};
  veska::RunProgram({counters, device, shell, decoders, &sensors});
}
