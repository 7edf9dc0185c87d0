#!/usr/bin/env bash
# The tray menu of veska.exe under Wine, opened by a click on its icon in
# the tray host and driven by keys: a volume preset (heard louder), a
# refresh preset, a custom volume typed (heard quieter), cancelled (kept)
# and left empty (silence), the keyboard mode and "Exit". settings.ini
# holds exactly the expected bytes (UTF-8 mark, CRLF lines) after each
# command and at the exit, which ends with code 0.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_tray_menu
e2e_require sox cmp
win_start

work=$E2E_TMP/work
win_workdir "$work" standin
e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
pack=$work/packs/tone
win_settings "$pack" 0.25 1 1 1 500 0 6 122 >"$work/settings.ini"
win_start_veska "$work"
e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"

# level NAME : the loudness of a second of sound (its peak) in peak.
level() {
  e2e_record "$E2E_TMP/$1.wav" 1.4
  e2e_measure "$E2E_TMP/$1.wav" --from 0.2
  peak=$(win_level "$E2E_TMP/$1.wav") || e2e_fail "no level of $1.wav"
  e2e_log "$1: peak $peak; $E2E_LAST_MEASURE"
}
level quarter
quarter_peak=$peak

# Top level: Load soundpack..., Volume, Elements, Refresh Time,
# Keyboard Mode, Start at login, Exit; the first Down picks the first item, and a sub-menu
# opens on its first item.
win_menu Down Down Right Down Down Return # Volume > 50%
win_expect_settings "volume preset 50%" "$work/settings.ini" "$pack" 0.5 1 1 1 500 0 6 122
level half
e2e_check "$quarter_peak > 0.005 && $peak > 1.6 * $quarter_peak && $peak < 2.4 * $quarter_peak" \
  "the tone grew about twice as loud, from $quarter_peak to $peak"
half_peak=$peak

win_menu Down Down Down Down Right Down Down Return # Refresh Time > 1 second
win_expect_settings "refresh preset 1 second" "$work/settings.ini" "$pack" 0.5 1 1 1 1000 0 6 122

# custom KEY... : Volume > Custom..., then the keys into its requester.
custom() {
  win_menu Down Down Right Down Down Down Down Down Return
  win_answer Volume "$@"
}
# A comma ends the number: 12 percent, kept as a 32-bit float.
custom ctrl+a 1 2 comma 5 Return
win_expect_settings "custom volume 12,5" "$work/settings.ini" "$pack" \
  0.119999997317790985107421875 1 1 1 1000 0 6 122
level custom
e2e_check "$peak > 0.18 * $half_peak && $peak < 0.3 * $half_peak" \
  "the custom volume plays at 12% ($peak against $half_peak at 50%)"

custom_peak=$peak

# Changing one's mind is no answer: the volume stays.
custom Escape
sleep 0.5
win_expect_settings "custom volume cancelled" "$work/settings.ini" "$pack" \
  0.119999997317790985107421875 1 1 1 1000 0 6 122
level cancelled
e2e_check "$peak > 0.9 * $custom_peak && $peak < 1.1 * $custom_peak" \
  "a cancelled custom volume keeps the sound as it was ($peak)"

custom ctrl+a BackSpace Return
win_expect_settings "custom volume left empty" "$work/settings.ini" "$pack" 0 1 1 1 1000 0 6 122
level empty
e2e_check "$peak < 0.0005" "an empty custom volume is silence (peak $peak)"

win_menu Down Down Down Down Down Right Down Return # Keyboard Mode > Push To Play
win_expect_settings "keyboard mode Push To Play" "$work/settings.ini" "$pack" 0 1 1 1 1000 1 6 122

win_menu Down Down Down Down Down Down Down Return # Exit (below "Start at login")
e2e_wait_exit 10
((VESKA_RC == 0)) || e2e_fail "Exit ended the program with code $VESKA_RC"
e2e_log "ok: Exit ended the program with code 0"
win_expect_settings "settings after Exit" "$work/settings.ini" "$pack" 0 1 1 1 1000 1 6 122
echo "PASS: win_tray_menu"
