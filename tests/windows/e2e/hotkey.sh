#!/usr/bin/env bash
# The hotkey of veska.exe under Wine, Control + Shift + F11. Wine hands a
# hotkey only to keys typed into one of its windows, so the pointer rests on
# the tray icon (a window of Wine's explorer.exe). The display repeats held
# keys quickly (after 50 ms), the keyboard setting of the prefix slowly
# (after 1 s), as Windows repeats a held hotkey. "Normal Toggle": a press
# held past the display's delay but not the keyboard's is one press, each
# time; held 1.5 s, past both, still one press. "Push To Play": the sound
# plays while the keys are held, repeats and all, and stops after they are
# let go.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_hotkey
e2e_require sox
E2E_KEY_REPEAT="50 30"
win_start
# The slowest keyboard delay, for this scenario only (set back at its end).
keyboard() {
  timeout 30 "$WINE" reg add 'HKCU\Control Panel\Keyboard' /v KeyboardDelay /d "$1" /f \
    >>"$E2E_TMP/logs/reg.log" 2>&1 || e2e_fail "could not set the keyboard delay"
}
keyboard 3

hotkey=ctrl+shift+F11
loud=0.02
quiet=0.002

# run_with_mode MODE : a fresh working folder whose settings choose MODE,
# and the pointer on the program's icon.
run_with_mode() {
  local icon
  work=$E2E_TMP/work$1
  win_workdir "$work" standin
  e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
  win_settings "$work/packs/tone" 0.5 0 1 0 500 "$1" 6 122 >"$work/settings.ini"
  win_start_veska "$work"
  e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"
  icon=$(e2e_wait_tray_icon 15) || e2e_fail "no icon appeared in the tray host"
  # A move with --sync to where the pointer already is waits for ever.
  xdotool mousemove 0 0
  xdotool mousemove --sync ${icon% *} ${icon#* }
}

# expect NAME loud|quiet [SECONDS] : waits until the sound is so, then
# records SECONDS more (1 by default): silent in every fifth of a second, or
# loud and in no fifth silent (a dropped moment of sound only lowers one).
expect() {
  local seconds=${3:-1} worst
  if [ "$2" = loud ]; then
    e2e_await "$1" 10 "rms > $loud"
  else
    e2e_await "$1" 10 "rms < $quiet"
  fi
  e2e_record "$E2E_TMP/$1.wav" "$(awk -v s="$seconds" 'BEGIN { print s + 0.2 }')"
  e2e_measure "$E2E_TMP/$1.wav" --from 0.2
  worst=$("$VESKA_ANALYZE" "$E2E_TMP/$1.wav" --from 0.2 --segments 0.2 | sed '1d;$d' |
    awk '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "rms") r = kv[2] }
           if (NR == 1 || r < lo) lo = r; if (NR == 1 || r > hi) hi = r }
         END { print lo + 0, hi + 0 }')
  if [ "$2" = loud ]; then
    e2e_check "$m_rms > $loud && ${worst% *} > $quiet" "$1: sound plays throughout (rms $m_rms, quietest part ${worst% *})"
  else
    e2e_check "${worst#* } < $quiet" "$1: silent throughout (rms $m_rms, loudest part ${worst#* })"
  fi
}

e2e_log "Normal Toggle"
run_with_mode 0
expect toggle_start loud
# Held past the display's repeat delay (its repeats come every 30 ms) but
# well short of the keyboard's: one change each time.
held_press() { e2e_held_press "$1" "$hotkey" 0.35 "$2" "$3"; }
held_press toggle_held loud quiet
expect toggle_held quiet
held_press toggle_held_again quiet loud
expect toggle_held_again loud
# Held 1.5 s, past the keyboard's delay too: its repeats toggle nothing.
e2e_held_press toggle_long "$hotkey" 1.5 loud quiet
e2e_held_press toggle_long_again "$hotkey" 1.5 quiet loud
win_stop_veska

e2e_log "Push To Play"
run_with_mode 1
expect push_start loud
xdotool keydown $hotkey
expect push_held loud 2
xdotool keyup $hotkey
expect push_released quiet
xdotool keydown $hotkey
expect push_held_again loud
xdotool keyup $hotkey
expect push_released_again quiet
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
win_stop_veska
keyboard 1
echo "PASS: win_hotkey"
