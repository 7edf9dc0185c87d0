#!/usr/bin/env bash
# The tray menu, opened by a click on the tray icon and driven with the
# keyboard: a volume preset, a refresh preset, a keyboard mode and "Exit".
# The settings file is written after each command and at the exit, which
# ends with code 0 and exactly the expected bytes.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init tray_menu
e2e_require sox cmp
e2e_require_program
e2e_start_display
e2e_start_sound

work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
pack=$work/packs/tone/
e2e_settings_bytes "$pack" 0.25 1 1 1 500 0 6 122 >"$work/settings.ini"
e2e_start_veska "$work"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
icon=$(e2e_wait_tray_icon 15) || e2e_fail "no icon appeared in the tray host"
read -r icon_x icon_y <<<"$icon"
e2e_log "tray icon at $icon_x,$icon_y"
# The icon alone; a menu open adds a window.
windows=$(e2e_program_windows)

# choose KEY... : opens the menu with a click on the icon once no menu is
# open, moves the pointer off it so that only the keyboard picks the item,
# and types the keys.
# Top level: Load soundpack..., Volume, Elements, Refresh Time,
# Keyboard Mode, Start at login, Exit.
choose() {
  e2e_wait_windows "$windows" 10 || e2e_fail "the previous menu did not close"
  # Where the icon is now: the tray host may have laid itself out anew.
  icon=$(e2e_wait_tray_icon 10) || e2e_fail "the icon left the tray host"
  read -r icon_x icon_y <<<"$icon"
  xdotool mousemove --sync "$icon_x" "$icon_y" click 1
  e2e_wait_until 10 eval '[ "$(e2e_program_windows)" -gt '"$windows"' ]' ||
    e2e_fail "no menu opened on a click on the tray icon"
  # The server hands the menu the pointer motion before the keys.
  xdotool mousemove --sync 5 795
  xdotool key --delay 150 "$@"
}

# expect_settings WHAT ARGS... : waits for the settings file to hold
# exactly what e2e_settings_bytes ARGS makes.
expect_settings() {
  local what=$1
  shift
  e2e_settings_bytes "$@" >"$E2E_TMP/expected.ini"
  e2e_expect_bytes "$what" "$E2E_TMP/expected.ini" "$work/settings.ini" "the settings file"
}

e2e_record "$E2E_TMP/quarter.wav" 1.2
e2e_measure "$E2E_TMP/quarter.wav" --from 0.2
quarter_rms=$m_rms

choose Down Down Right Down Down Return # Volume > 50%
expect_settings "volume preset 50%" "$pack" 0.5 1 1 1 500 0 6 122

# The new volume is heard: the tone is louder at 50 than at 25.
e2e_record "$E2E_TMP/half.wav" 1.2
e2e_measure "$E2E_TMP/half.wav" --from 0.2
e2e_check "$quarter_rms > 0.005 && $m_rms > 1.3 * $quarter_rms" \
  "the tone grew louder from $quarter_rms to $m_rms"

choose Down Down Down Down Right Down Down Return # Refresh Time > 1 second
expect_settings "refresh preset 1 second" "$pack" 0.5 1 1 1 1000 0 6 122

choose Down Down Down Down Down Right Down Return # Keyboard Mode > Push To Play
expect_settings "keyboard mode Push To Play" "$pack" 0.5 1 1 1 1000 1 6 122

choose Down Down Down Down Down Down Down Return # Exit (below "Start at login")
e2e_wait_exit 10
((VESKA_RC == 0)) || e2e_fail "Exit ended the program with code $VESKA_RC"
e2e_log "ok: Exit ended the program with code 0"
expect_settings "settings after Exit" "$pack" 0.5 1 1 1 1000 1 6 122
echo "PASS: tray_menu"
