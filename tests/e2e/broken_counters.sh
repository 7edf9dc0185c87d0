#!/usr/bin/env bash
# Broken counters: in a private mount namespace where /proc/stat has no CPU
# lines, the program asks "Failed to initialize counters"; answering No shows
# the "Information" box and ends with 0, writing nothing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init broken_counters
e2e_require unshare mount sox
e2e_require_program
unshare -m true 2>/dev/null || e2e_skip "no private mount namespaces here (needs root or user namespaces)"
e2e_start_display
e2e_start_sound

work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/tone" 440
e2e_settings_bytes "$work/packs/tone/" 0.5 1 1 1 500 0 6 122 >"$work/settings.ini"
cp "$work/settings.ini" "$E2E_TMP/settings.before"
(cd "$work" && find . | sort) >"$E2E_TMP/files.before"

grep -v '^cpu' /proc/stat >"$E2E_TMP/stat"
# The bind mount lives only in the namespace the program runs in.
e2e_start_veska "$work" unshare -m sh -c \
  'mount --bind "$0" /proc/stat && exec "$1"' "$E2E_TMP/stat"

question=$(e2e_wait_window "Failed to initialize counters" 20) ||
  e2e_fail "no box titled \"Failed to initialize counters\" appeared"
e2e_focus "$question"
xdotool key n
info=$(e2e_wait_window "Information" 10) ||
  e2e_fail "answering No showed no \"Information\" box"
e2e_focus "$info"
xdotool key Return
e2e_wait_exit 10
((VESKA_RC == 0)) || e2e_fail "the program ended with code $VESKA_RC"
e2e_log "ok: ended with code 0 after the Information box"
cmp -s "$E2E_TMP/settings.before" "$work/settings.ini" || e2e_fail "settings.ini changed"
(cd "$work" && find . | sort) | cmp -s - "$E2E_TMP/files.before" ||
  e2e_fail "files appeared in the working folder"
e2e_log "ok: nothing written"
echo "PASS: broken_counters"
