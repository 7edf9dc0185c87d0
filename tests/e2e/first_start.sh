#!/usr/bin/env bash
# The first start, without settings.ini: the folder browser titled
# "Select a soundpack" opens at the working folder's "packs"; choosing a
# bundled soundpack there starts its sound, and nothing is written before a
# menu command. Cancelling shows "No soundpack selected" and ends with 0.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init first_start
e2e_require sox
e2e_require_program
e2e_start_display
e2e_start_sound

bundled=""
for dir in "$E2E_SRC"/packs/*/; do
  [ -f "$dir/prefs.ini" ] && { bundled=${dir%/}; break; }
done
[ -n "$bundled" ] || e2e_fail "no bundled soundpack (a folder with prefs.ini) under $E2E_SRC/packs"
name=${bundled##*/}

e2e_log "choosing the bundled soundpack $name"
work=$E2E_TMP/work
e2e_workdir "$work"
cp -r "$bundled" "$work/packs/"
e2e_start_veska "$work"
browser=$(e2e_wait_window "Select a soundpack" 20) ||
  e2e_fail "no folder browser titled \"Select a soundpack\" appeared"
e2e_focus "$browser"
# A name relative to the folder the browser shows: it is found only when the
# browser opened at "packs".
xdotool type --delay 40 "$name"
sleep 0.3
xdotool key Return
# A completion list may take the first Return.
if e2e_wait_until 2 test -z "$(e2e_find_window "Select a soundpack")"; then :; else
  xdotool key Return
fi
e2e_wait_until 10 test -z "$(e2e_find_window "Select a soundpack")" ||
  e2e_fail "the folder browser did not accept $name"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
e2e_await chosen_starts 10 "rms > 0.001"
e2e_record "$E2E_TMP/chosen.wav" 2
e2e_measure "$E2E_TMP/chosen.wav" --from 0.2
e2e_log "$E2E_LAST_MEASURE"
e2e_check "$m_rms > 0.001" "the chosen soundpack plays (rms $m_rms)"
[ ! -e "$work/settings.ini" ] || e2e_fail "settings.ini was written before any menu command"
e2e_stop_veska

e2e_log "cancelling the folder browser"
work=$E2E_TMP/cancel
e2e_workdir "$work"
cp -r "$bundled" "$work/packs/"
e2e_start_veska "$work"
browser=$(e2e_wait_window "Select a soundpack" 20) ||
  e2e_fail "no folder browser on the second start"
e2e_focus "$browser"
xdotool key Escape
box=$(e2e_wait_window "No soundpack selected" 10) ||
  e2e_fail "cancelling showed no box titled \"No soundpack selected\""
e2e_focus "$box"
xdotool key Return
e2e_wait_exit 10
((VESKA_RC == 0)) || e2e_fail "cancelling ended the program with code $VESKA_RC"
e2e_log "ok: cancelling ended the program with code 0"
[ ! -e "$work/settings.ini" ] || e2e_fail "cancelling wrote settings.ini"
echo "PASS: first_start"
