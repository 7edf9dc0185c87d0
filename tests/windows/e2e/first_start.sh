#!/usr/bin/env bash
# The first start of veska.exe under Wine, without settings.ini: the folder
# browser opens (the system's caption; the program's "Select a soundpack" is
# its label inside, which X cannot read) at "packs"; cancelling it shows "No soundpack
# selected", and the program ends with code 0 having written nothing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_first_start
e2e_require sox
win_start

work=$E2E_TMP/work
win_workdir "$work" standin
e2e_make_tone_pack "$work/packs/tone" 440
(cd "$work" && find . | sort) >"$E2E_TMP/files.before"
win_start_veska "$work"
# It opens at "packs" beside the program: the name shows in its edit box.
win_wait_window "Browse for Folder" 15 >/dev/null || e2e_fail "no folder browser appeared"
e2e_wait_until 5 eval '[ "$(win_probe browsing)" = packs ]' ||
  e2e_fail "the folder browser opened at \"$(win_probe browsing)\", not at packs"
e2e_log "ok: the folder browser opened at packs"
win_answer "Browse for Folder" Escape
win_answer "No soundpack selected" Return
e2e_wait_exit 10
((VESKA_RC == 0)) || e2e_fail "cancelling ended the program with code $VESKA_RC"
e2e_log "ok: cancelling ended the program with code 0"
(cd "$work" && find . | sort) | cmp -s - "$E2E_TMP/files.before" ||
  e2e_fail "cancelling left files in the working folder: $(cd "$work" && find . -newer "$E2E_TMP/files.before")"
echo "PASS: win_first_start"
