#!/usr/bin/env bash
# veska.exe's volume dialog at 150 and 200 % (144 and 192 dots per inch in
# the prefix): opened from the tray menu, its prompt shows its whole text,
# as measured from outside the program; screenshots are kept in the logs.
# The prefix's scale is put back at the end, also on failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_dpi_dialog
e2e_require sox import
win_start

desktop='HKCU\Control Panel\Desktop'
set_dpi() {
  e2e_bounded 20 "$WINE" reg add "$desktop" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
}
put_scale_back() {
  local rc=$?
  set +e
  e2e_bounded 20 "$WINE" reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1
  (exit "$rc")
  win_cleanup
}
trap put_scale_back EXIT
work=$E2E_TMP/work
win_workdir "$work" standin
e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
win_settings "$work/packs/tone" 0.25 1 1 1 500 0 6 122 >"$work/settings.ini"

for dpi in 144 192; do
  percent=$((dpi * 100 / 96))
  set_dpi "$dpi" || e2e_fail "could not set $percent % in the prefix"
  win_start_veska "$work"
  e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"
  win_menu Down Down Right Down Down Down Down Down Return # Volume > Custom...
  dialog=$(win_wait_window Volume 15) || e2e_fail "no \"Volume\" dialog appeared"
  sleep 0.5
  import -window "$dialog" "$E2E_TMP/logs/volume-$percent.png" ||
    e2e_fail "no screenshot of the dialog"
  fit=$(win_probe prompt) ||
    e2e_fail "the prompt does not show its whole text at $percent %: $fit"
  e2e_log "ok: the whole prompt shows at $percent %: $fit"
  win_answer Volume Escape
  win_menu Down Down Down Down Down Down Down Return # Exit (below "Start at login")
  e2e_wait_exit 10
done
echo "PASS: win_dpi_dialog"
