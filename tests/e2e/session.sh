#!/usr/bin/env bash
# One VESKA per desktop session, and its start at login. A second start on
# the same display says "already running" in one box and ends with code 0,
# leaving one sound playing and settings.ini byte for byte as it was; a
# start on another display is another session and plays. "Start at login"
# ticked in the tray menu writes an autostart entry that the desktop's
# validator accepts and whose Exec and Path are this program and folder,
# which, started so, plays there; unticked, the entry goes. Neither touches
# settings.ini.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init session
e2e_require sox cmp desktop-file-validate
e2e_require_program
e2e_start_display
e2e_start_sound
first_display=$DISPLAY

work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
e2e_settings_bytes "$work/packs/tone/" 0.25 1 1 1 500 0 6 122 >"$work/settings.ini"
e2e_freeze "$work/settings.ini"
e2e_start_veska "$work"
first=$VESKA_PID
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
icon=$(e2e_wait_tray_icon 15) || e2e_fail "no icon appeared in the tray host"

e2e_log "a second start on the same display"
mv "$E2E_TMP/logs/veska.log" "$E2E_TMP/logs/veska.first.log"
e2e_start_veska "$work"
box=$(e2e_wait_window Information 15) ||
  e2e_fail "the second start showed no box titled \"Information\""
# While the box shows, the second one has opened no sound of its own.
(($(e2e_players) == 1)) || e2e_fail "the second start opened the sound device"
e2e_focus "$box"
xdotool key Return
e2e_expect_second_start_gone "$first" "$work/settings.ini"

e2e_log "a start on another display"
e2e_start_display
work2=$E2E_TMP/work2
e2e_workdir "$work2"
cp -r "$work/packs" "$work2/"
e2e_settings_bytes "$work2/packs/tone/" 0.25 1 1 1 500 0 6 122 >"$work2/settings.ini"
e2e_start_veska "$work2"
e2e_wait_until 15 eval '(($(e2e_players) == 2))' ||
  e2e_fail "the start on display $DISPLAY did not play beside the first"
[ -z "$(e2e_find_window Information)" ] || e2e_fail "display $DISPLAY was taken for the same session"
e2e_log "ok: display $DISPLAY is a session of its own"
e2e_stop_veska
export DISPLAY=$first_display VESKA_PID=$first

# login_item : "Start at login", the sixth item of the tray menu.
login_item() {
  e2e_wait_until 10 eval '[ "$(e2e_program_windows)" -le 1 ]' ||
    e2e_fail "a window of the program stayed open"
  icon=$(e2e_wait_tray_icon 10) || e2e_fail "the icon left the tray host"
  e2e_open_tray_menu $icon
  xdotool key --delay 150 Down Down Down Down Down Down Return
}
entry=$XDG_CONFIG_HOME/autostart/veska.desktop
login_item
e2e_wait_until 10 test -f "$entry" || e2e_fail "ticking \"Start at login\" wrote no $entry"
desktop-file-validate "$entry" >"$E2E_TMP/validate.log" 2>&1 ||
  e2e_fail "desktop-file-validate refused the entry: $(head -n 1 "$E2E_TMP/validate.log")"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
path_line=$(sed -n 's/^Path=//p' "$entry")
[ "$exec_line" = "\"$(readlink -f "$VESKA_BIN")\"" ] ||
  e2e_fail "the entry runs $exec_line, not this program"
[ "$path_line" = "$(cd "$work" && pwd -P)" ] ||
  e2e_fail "the entry starts in $path_line, not in $work"
e2e_log "ok: the entry starts $exec_line in $path_line"
e2e_expect_untouched "ticking \"Start at login\"" "$work/settings.ini"

# Logging in again: the program started as the entry says finds its entry
# ticked, so that it can untick it.
e2e_stop_veska
e2e_wait_until 10 eval '! e2e_has_player' || e2e_fail "the ended program's sound stayed"
eval "set -- $exec_line"
program=$VESKA_BIN
VESKA_BIN=$1
e2e_start_veska "$path_line"
VESKA_BIN=$program
e2e_wait_until 15 e2e_has_player || e2e_fail "the program of the entry plays nothing"
[ "$(readlink "/proc/$VESKA_PID/cwd")" = "$path_line" ] ||
  e2e_fail "the program of the entry works in $(readlink "/proc/$VESKA_PID/cwd")"
e2e_log "ok: started as the entry says, the program plays in $path_line"
first=$VESKA_PID

login_item
e2e_wait_until 10 eval '[ ! -e "'"$entry"'" ]' ||
  e2e_fail "unticking \"Start at login\" left $entry"
[ -z "$(ls -A "$XDG_CONFIG_HOME/autostart")" ] || e2e_fail "the autostart folder holds leftovers"
e2e_expect_untouched "unticking \"Start at login\"" "$work/settings.ini"
e2e_alive "$first" || e2e_fail "the program ended"
e2e_log "ok: unticked, the entry is gone"
echo "PASS: session"
