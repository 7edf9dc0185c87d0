#!/usr/bin/env bash
# The global hotkey, Control + Shift + F11: under "Normal Toggle" each press
# silences or restores the sound; under "Push To Play" the sound plays while
# the keys are held and stops soon after they are let go.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init hotkey
e2e_require sox
e2e_require_program
# "Push To Play" is held by the keyboard's repeats.
E2E_KEY_REPEAT=on
e2e_start_display
e2e_start_sound

hotkey=ctrl+shift+F11
loud=0.02
quiet=0.002

# run_with_mode MODE : a fresh working folder whose settings choose MODE.
run_with_mode() {
  work=$E2E_TMP/work$1
  e2e_workdir "$work"
  e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
  e2e_settings_bytes "$work/packs/tone/" 0.5 0 1 0 500 "$1" 6 122 >"$work/settings.ini"
  e2e_start_veska "$work"
  e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
}

# expect NAME loud|quiet : waits until the sound is so (the program answers
# a key on its next loop, the sound server a little later), then records a
# second more and checks that it stays so.
expect() {
  if [ "$2" = loud ]; then
    e2e_await "$1" 10 "rms > $loud"
  else
    e2e_await "$1" 10 "rms < $quiet"
  fi
  e2e_record "$E2E_TMP/$1.wav" 1.2
  e2e_measure "$E2E_TMP/$1.wav" --from 0.2
  if [ "$2" = loud ]; then
    e2e_check "$m_rms > $loud" "$1: sound plays (rms $m_rms)"
  else
    e2e_check "$m_rms < $quiet" "$1: silent (rms $m_rms)"
  fi
}

e2e_log "Normal Toggle"
run_with_mode 0
expect toggle_start loud
xdotool key "$hotkey"
expect toggle_first_press quiet
xdotool key "$hotkey"
expect toggle_second_press loud
# Held 1.5 s, the display repeating the keys: one hold, one toggle.
e2e_held_press toggle_held "$hotkey" 1.5 loud quiet
e2e_held_press toggle_held_again "$hotkey" 1.5 quiet loud
e2e_stop_veska

e2e_log "Push To Play"
run_with_mode 1
expect push_start loud
# The first hold and release: the sound stops after the release.
xdotool keydown "$hotkey"
expect push_first_hold loud
xdotool keyup "$hotkey"
expect push_released quiet
# Held: the keyboard repeats the hotkey, and the sound plays throughout.
xdotool keydown "$hotkey"
expect push_held loud
xdotool keyup "$hotkey"
expect push_released_again quiet
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
echo "PASS: hotkey"
