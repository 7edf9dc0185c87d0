#!/usr/bin/env bash
# The tray host goes away while the program runs and comes back: killed
# outright (KILL), then ended in order (TERM), and started again each time.
# The program stays alive, says so once each time on standard error, its
# icon comes back in the new tray host, and the menu opened from that icon
# still works.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init tray_host
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
e2e_wait_tray_icon 15 >/dev/null || e2e_fail "no icon appeared in the tray host"

now() { date +%s.%N; }

for signal in KILL TERM; do
  e2e_restart_tray_host "$signal"
  t_back=$(now)
  icon=$(e2e_wait_tray_icon 10) || e2e_fail "SIG$signal: the icon did not come back to the new tray host"
  e2e_log "SIG$signal: the icon came back $(awk -v a="$(now)" -v b="$t_back" 'BEGIN { printf "%.1f", a - b }') s after the tray host"
  e2e_alive "$VESKA_PID" || e2e_fail "SIG$signal: the program ended"
done

# Each departure and each return is said once.
log=$E2E_TMP/logs/veska.log
lost=$(e2e_count_lines "$log" "Notification area lost")
back=$(e2e_count_lines "$log" "Notification area back")
e2e_check "$lost == 2 && $back == 2" \
  "the tray host's two departures and returns are each said once ($lost lost, $back back)"

# The menu opens from the icon the new tray host holds: Volume > 50%.
read -r icon_x icon_y <<<"$icon"
e2e_open_tray_menu "$icon_x" "$icon_y"
xdotool key --delay 150 Down Down Right Down Down Return
e2e_settings_bytes "$pack" 0.5 1 1 1 500 0 6 122 >"$E2E_TMP/expected.ini"
e2e_wait_until 5 cmp -s "$E2E_TMP/expected.ini" "$work/settings.ini" ||
  e2e_fail "the menu of the icon in the new tray host did not set the volume"
e2e_log "ok: the menu of the returned icon set the volume to 50%"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended"
echo "PASS: tray_host"
