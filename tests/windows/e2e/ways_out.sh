#!/usr/bin/env bash
# Where veska.exe works, and the ways the system asks it to end. Started
# from a folder holding neither settings.ini nor VESKA.bmp, it works in its
# own folder (the unzipped package), whose settings.ini names a pack under a
# path of over 300 characters, which plays. A close request (taskkill
# without /F) and the session's end (asked, then ended, as the Restart
# Manager does) each end it as "Exit" does: code 0, settings.ini written as
# the program writes it, no sound left at the sound server, no icon left in
# the tray host, nothing written where it was started.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_ways_out
e2e_require sox cmp
win_start

program=$E2E_TMP/VESKA-windows-x64
win_workdir "$program" standin
long=$E2E_TMP
for part in a b c d e; do long+=/$part$(printf '%054d' 0 | tr 0 "$part"); done
pack=$long/tone
e2e_make_tone_pack "$pack" 440 UseAverages=1 CPUSoundMode=1
pack_path=$(win_path "$pack")
((${#pack_path} > 300)) || e2e_fail "the pack's path is only ${#pack_path} characters"
elsewhere=$E2E_TMP/elsewhere
mkdir -p "$elsewhere"
# No load: the tone plays at its own pitch.
export VESKA_PDH_CPU=0

# run_until_asked NAME COMMAND... : starts the program from elsewhere with
# settings as a person may write them (no byte order mark, LF lines), hears
# the pack, then asks it to end with COMMAND and checks the end.
run_until_asked() {
  local name=$1
  shift
  win_settings "$pack" 1 0 1 0 500 0 6 122 | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' \
    >"$program/settings.ini"
  win_start_veska_from "$elsewhere" "$program"
  e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"
  e2e_await "$name-plays" 10 "rms > 0.05 && pitch > 435 && pitch < 445"
  e2e_wait_tray_icon 15 >/dev/null || e2e_fail "no icon in the tray host"
  "$@" || e2e_fail "$name: asking the program to end failed"
  e2e_wait_exit 10
  ((VESKA_RC == 0)) || e2e_fail "$name ended the program with code $VESKA_RC"
  win_expect_settings "settings after $name" "$program/settings.ini" "$pack" 1 0 1 0 500 0 6 122
  e2e_wait_until 5 eval '! e2e_has_player' || e2e_fail "$name left sound at the sound server"
  e2e_wait_until 5 eval '[ -z "$(e2e_tray_icon_at)" ]' || e2e_fail "$name left the icon in the tray"
  [ -z "$(ls -A "$elsewhere")" ] || e2e_fail "$name: files written where it was started: $(ls -A "$elsewhere")"
  e2e_log "ok: $name ended it as Exit does"
}

taskkill() { e2e_bounded 20 "$WINE" taskkill /IM veska.exe; }
end_session() { win_probe end-session; }
run_until_asked "a close request" taskkill
run_until_asked "the session's end" end_session
echo "PASS: win_ways_out"
