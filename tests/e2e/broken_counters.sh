#!/usr/bin/env bash
# Broken counters: in a private mount namespace where /proc/stat has no CPU
# lines, the program asks "Failed to initialize counters"; answering No shows
# the "Information" box and ends with 0, writing nothing and starting no
# repair utility. Answering Yes starts the repair utility (a stand-in on PATH
# that leaves a mark outside the working folder) and ends with 0 as well; a
# utility planted in the working folder is never run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init broken_counters
e2e_require unshare mount sox
e2e_require_program
unshare -m true 2>/dev/null || e2e_skip "no private mount namespaces here (needs root or user namespaces)"
e2e_start_display
e2e_start_sound

grep -v '^cpu' /proc/stat >"$E2E_TMP/stat"
mark=$E2E_TMP/repair-ran
planted_mark=$E2E_TMP/planted-ran
mkdir -p "$E2E_TMP/bin"
printf '#!/bin/sh\necho "$0" >"%s"\n' "$mark" >"$E2E_TMP/bin/perfmend.exe"
chmod +x "$E2E_TMP/bin/perfmend.exe"

# start_broken NAME : a working folder with settings and a planted repair
# utility, and the program started where /proc/stat is ours.
start_broken() {
  work=$E2E_TMP/$1
  e2e_workdir "$work"
  e2e_make_tone_pack "$work/packs/tone" 440
  e2e_settings_bytes "$work/packs/tone/" 0.5 1 1 1 500 0 6 122 >"$work/settings.ini"
  printf '#!/bin/sh\necho "$0" >"%s"\n' "$planted_mark" >"$work/perfmend.exe"
  chmod +x "$work/perfmend.exe"
  cp "$work/settings.ini" "$E2E_TMP/settings.before"
  (cd "$work" && find . | sort) >"$E2E_TMP/files.before"
  rm -f "$mark" "$planted_mark"
  # The bind mount lives only in the namespace the program runs in. PATH
  # starts with an empty entry, which once named the working folder.
  e2e_start_veska "$work" env PATH=":$E2E_TMP/bin:$PATH" unshare -m sh -c \
    'mount --bind "$0" /proc/stat && exec "$1"' "$E2E_TMP/stat"
  question=$(e2e_wait_window "Failed to initialize counters" 20) ||
    e2e_fail "no box titled \"Failed to initialize counters\" appeared"
  e2e_focus "$question"
}

# answer_then_information KEY : answers the question and closes the
# "Information" box that follows; the program must end with 0.
answer_then_information() {
  xdotool key "$1"
  info=$(e2e_wait_window "Information" 10) ||
    e2e_fail "answering with $1 showed no \"Information\" box"
  e2e_focus "$info"
  xdotool key Return
  e2e_wait_exit 10
  ((VESKA_RC == 0)) || e2e_fail "the program ended with code $VESKA_RC"
  e2e_log "ok: answer $1 ended with code 0 after the Information box"
}

start_broken answer_no
answer_then_information n
cmp -s "$E2E_TMP/settings.before" "$work/settings.ini" || e2e_fail "settings.ini changed"
(cd "$work" && find . | sort) | cmp -s - "$E2E_TMP/files.before" ||
  e2e_fail "files appeared in the working folder"
sleep 0.5
[ ! -e "$mark" ] || e2e_fail "answering No started the repair utility"
e2e_log "ok: nothing written and no repair started"

start_broken answer_yes
answer_then_information y
cmp -s "$E2E_TMP/settings.before" "$work/settings.ini" || e2e_fail "settings.ini changed"
if command -v pkexec >/dev/null 2>&1; then
  e2e_log "the repair utility goes through pkexec here, which asks for a password: not waited for"
else
  e2e_wait_until 5 test -e "$mark" || e2e_fail "answering Yes did not start the repair utility"
  e2e_log "ok: answering Yes started $(cat "$mark")"
fi
sleep 0.5
[ ! -e "$planted_mark" ] || e2e_fail "the repair utility planted in the working folder ran"
echo "PASS: broken_counters"
