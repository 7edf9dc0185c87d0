#!/usr/bin/env bash
# The working folder's disk is full when menu commands save the settings:
# settings.ini keeps its old bytes, each failed save shows a box titled
# "Error", standard error says why once, and the program keeps running;
# once there is room again the next command saves every setting changed
# meanwhile. The full disk is a small memory file system mounted in a mount
# namespace of this test's own, which no other process sees.
set -euo pipefail

if [ "${VESKA_E2E_OWN_MOUNTS:-0}" != 1 ]; then
  export VESKA_E2E_OWN_MOUNTS=1
  for flags in -m -rm; do
    if unshare $flags true 2>/dev/null; then
      exec unshare $flags bash "$0" "$@"
    fi
  done
  echo "SKIP: disk_full: no mount namespace of our own here (unshare)"
  exit 77
fi

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init disk_full
e2e_require sox cmp mount umount
e2e_require_program

work=$E2E_TMP/work
mkdir -p "$work"
mount -t tmpfs -o size=256k,mode=0755 veska-full "$work" ||
  e2e_skip "cannot mount a small file system here"
e2e_on_cleanup() { umount "$work" 2>/dev/null || umount -l "$work" || true; }

e2e_workdir "$work"
e2e_make_tone_pack "$E2E_TMP/packs/tone" 440 UseAverages=1 CPUSoundMode=1
pack=$E2E_TMP/packs/tone/
e2e_settings_bytes "$pack" 0.25 1 1 1 500 0 6 122 >"$work/settings.ini"
cp "$work/settings.ini" "$E2E_TMP/old.ini"
dd if=/dev/zero of="$work/filler" bs=4k 2>/dev/null || true
[ "$(df --output=avail "$work" | tail -n 1 | tr -d ' ')" = 0 ] ||
  e2e_fail "could not fill the working folder's file system"
e2e_log "the working folder's file system is full"

e2e_start_display
e2e_start_sound
e2e_start_veska "$work"
icon=$(e2e_wait_tray_icon 15) || e2e_fail "no icon appeared in the tray host"
read -r icon_x icon_y <<<"$icon"

# choose KEY... : as in tray_menu.sh, the menu opened by a click on the
# icon and driven by the keyboard only.
choose() {
  xdotool mousemove --sync "$icon_x" "$icon_y" click 1
  sleep 0.6
  xdotool mousemove --sync 5 795
  sleep 0.2
  xdotool key --delay 150 "$@"
}

# failed_save WHAT : the save after a command was told in a box, which is
# answered; the old file and nothing else is left in the folder.
failed_save() {
  local box
  box=$(e2e_wait_window "Error" 10) ||
    e2e_fail "$1: no box titled \"Error\" told of the failed save"
  cmp -s "$E2E_TMP/old.ini" "$work/settings.ini" ||
    e2e_fail "$1: settings.ini lost its old bytes"
  local left
  left=$(cd "$work" && ls -A | grep -vxE 'settings.ini|filler|VESKA.bmp|packs' || true)
  [ -z "$left" ] || e2e_fail "$1: the failed save left $left"
  e2e_focus "$box"
  xdotool key Return
  e2e_wait_until 5 eval '[ -z "$(e2e_find_window Error)" ]' ||
    e2e_fail "$1: the box did not close"
  e2e_alive "$VESKA_PID" || e2e_fail "$1: the program ended"
  e2e_log "ok: $1: told, old settings.ini intact, still running"
}

choose Down Down Right Down Down Return # Volume > 50%
failed_save "volume preset 50%"
choose Down Down Down Down Right Down Down Return # Refresh Time > 1 second
failed_save "refresh preset 1 second"
told=$(grep -c "could not save settings.ini: No space left on device" \
  "$E2E_TMP/logs/veska.log" || true)
[ "$told" = 1 ] || e2e_fail "standard error told the failure $told times, not once"
e2e_log "ok: standard error told why, once"

rm "$work/filler"
choose Down Down Down Down Down Right Down Return # Keyboard Mode > Push To Play
e2e_settings_bytes "$pack" 0.5 1 1 1 1000 1 6 122 >"$E2E_TMP/expected.ini"
e2e_wait_until 5 cmp -s "$E2E_TMP/expected.ini" "$work/settings.ini" ||
  e2e_fail "with room again, the save did not hold every setting"
[ -z "$(e2e_find_window Error)" ] || e2e_fail "a save that worked showed a box"
e2e_log "ok: with room again, the next command saved every setting"

choose Down Down Down Down Down Down Down Return # Exit (below "Start at login")
e2e_wait_exit 10
((VESKA_RC == 0)) || e2e_fail "Exit ended the program with code $VESKA_RC"
echo "PASS: disk_full"
