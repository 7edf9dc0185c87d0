#!/usr/bin/env bash
# veska.exe with Wine's own performance counters, which lack the
# per-processor ones: it asks "Failed to initialize counters". No shows the
# "Information" box and ends with code 0, writing nothing and starting
# nothing. Yes shows the other "Information" box and starts perfmend.exe
# from beside the program (a stand-in that records its run), then ends with
# 0; with no perfmend.exe there it ends with 0 all the same, raising no
# error box of the system's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_repair
e2e_require sox cmp
[ -f "${VESKA_PERFMEND_STANDIN:-}" ] || e2e_fail "no stand-in perfmend.exe at ${VESKA_PERFMEND_STANDIN:-(unset)}"
win_start
record=$E2E_TMP/perfmend-ran
VESKA_PERFMEND_RECORD=$(win_path "$record")
export VESKA_PERFMEND_RECORD

# start_broken NAME [helper] : a working folder with settings, without the
# stand-in pdh.dll, with the stand-in helper when asked; the program asks.
start_broken() {
  work=$E2E_TMP/$1
  win_workdir "$work"
  [ "${2:-}" = helper ] && cp "$VESKA_PERFMEND_STANDIN" "$work/perfmend.exe"
  e2e_make_tone_pack "$work/packs/tone" 440
  win_settings "$work/packs/tone" 0.5 1 1 1 500 0 6 122 >"$work/settings.ini"
  (cd "$work" && find . | sort) >"$E2E_TMP/files.before"
  cp "$work/settings.ini" "$E2E_TMP/settings.before"
  rm -f "$record"
  win_start_veska "$work"
}

# answer KEY : answers the question, closes the "Information" box that
# follows and expects the end with code 0, the working folder untouched.
answer() {
  win_answer "Failed to initialize counters" "$1"
  win_answer Information Return
  e2e_wait_exit 10
  ((VESKA_RC == 0)) || e2e_fail "answering $1 ended the program with code $VESKA_RC"
  cmp -s "$E2E_TMP/settings.before" "$work/settings.ini" || e2e_fail "answering $1 changed settings.ini"
  (cd "$work" && find . | sort) | cmp -s - "$E2E_TMP/files.before" ||
    e2e_fail "answering $1 left files in the working folder"
  e2e_log "ok: answering $1 ended with code 0, nothing written"
}

start_broken answer_no helper
answer n
sleep 1
[ ! -e "$record" ] || e2e_fail "answering No started the repair helper"

start_broken answer_yes helper
answer y
e2e_wait_until 10 test -s "$record" ||
  e2e_fail "answering Yes did not start perfmend.exe"
e2e_log "ok: answering Yes started the helper: $(tr -d '\r' <"$record" | head -n 1)"

start_broken answer_yes_no_helper
answer y
echo "PASS: win_repair"
