#!/usr/bin/env bash
# One veska.exe per session under Wine, and its start at login. A second
# start says "already running" in one box and ends with code 0, leaving one
# sound playing and settings.ini untouched; "Start at login" ticked in the
# tray menu makes a shortcut in the Startup folder whose target and "Start
# in" read back as this program and its folder, and which, opened, starts
# it there; unticked, it goes. Neither touches settings.ini.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_session
e2e_require sox cmp
VESKA_SHORTCUT_PROBE=${VESKA_SHORTCUT_PROBE:-$E2E_SRC/build-windows/tests/windows/e2e/veska_shortcut_probe.exe}
[ -f "$VESKA_SHORTCUT_PROBE" ] || e2e_fail "no $VESKA_SHORTCUT_PROBE (build it first)"
win_start

work=$E2E_TMP/work
win_workdir "$work" standin
e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
win_settings "$work/packs/tone" 0.25 1 1 1 500 0 6 122 >"$work/settings.ini"
e2e_freeze "$work/settings.ini"
win_start_veska "$work"
first=$VESKA_PID
e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"
e2e_wait_tray_icon 15 >/dev/null || e2e_fail "no icon in the tray host"

e2e_log "a second start in the same session"
mv "$E2E_TMP/logs/veska.log" "$E2E_TMP/logs/veska.first.log"
win_start_veska "$work"
win_wait_window Information 20 >/dev/null ||
  e2e_fail "the second start showed no box titled \"Information\""
(($(e2e_players) == 1)) || e2e_fail "the second start opened the sound device"
win_answer Information Return
e2e_expect_second_start_gone "$first" "$work/settings.ini"

# shortcut : what the probe reads of the Startup folder's VESKA.lnk.
shortcut() { e2e_bounded 30 "$WINE" "$VESKA_SHORTCUT_PROBE" | tr -d '\r'; }

# Top level: Load soundpack..., Volume, Elements, Refresh Time,
# Keyboard Mode, Start at login, Exit.
win_menu Down Down Down Down Down Down Return
e2e_wait_until 10 eval '[ "$(shortcut)" != missing ]' ||
  e2e_fail "ticking \"Start at login\" made no shortcut in the Startup folder"
read_back=$(shortcut)
expected=$(printf 'target=%s\nstart_in=%s' "$(win_path "$work/veska.exe")" "$(win_path "$work")")
[ "$read_back" = "$expected" ] ||
  e2e_fail "the shortcut reads back as \"$read_back\", not \"$expected\""
e2e_log "ok: the shortcut starts $(win_path "$work/veska.exe") in its folder"
e2e_expect_untouched "ticking \"Start at login\"" "$work/settings.ini"

# Logging in again: opened as the desktop opens it, the shortcut starts the
# program in its folder (it plays the pack of that settings.ini rather than
# asking for one), which finds the shortcut ticked and can untick it.
win_stop_veska
e2e_bounded 30 "$WINE" "$VESKA_SHORTCUT_PROBE" start ||
  e2e_fail "the shortcut could not be opened"
e2e_wait_until 20 e2e_has_player || e2e_fail "the program of the shortcut plays nothing"
sleep 1
[ -z "$(win_wait_window "Select a soundpack" 0)" ] ||
  e2e_fail "the program of the shortcut did not start in its folder"
e2e_log "ok: opened, the shortcut starts the program in its folder"

win_menu Down Down Down Down Down Down Return
e2e_wait_until 10 eval '[ "$(shortcut)" = missing ]' ||
  e2e_fail "unticking \"Start at login\" left the shortcut"
e2e_expect_untouched "unticking \"Start at login\"" "$work/settings.ini"
e2e_log "ok: unticked, the shortcut is gone"
win_menu Down Down Down Down Down Down Down Return # Exit
e2e_wait_until 10 eval '! e2e_has_player' || e2e_fail "Exit left the sound playing"
echo "PASS: win_session"
