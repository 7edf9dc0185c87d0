#!/usr/bin/env bash
# Per-core sounds stand left and right under Wine too: with one sound per
# core whose volume follows that core's load (the stand-in pdh.dll reads
# Wine's processor times, which follow a /proc/stat of the test's own), the
# first core busy makes the left side louder, the last core the right side.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_stereo_cores
e2e_require sox unshare
cores=$(e2e_cores)
((cores >= 2)) || e2e_skip "one core only: there is no left and right to tell"
e2e_fake_stat_available || e2e_skip "no private mount namespaces here for a load of the test's own"
win_start

work=$E2E_TMP/work
win_workdir "$work" standin
e2e_make_tone_pack "$work/packs/cores" 523.25 UseAverages=0 CPUSoundMode=0 \
  RAMSoundMode=0 SlideInterval=20 FrequencyFluctuation=0
win_settings "$work/packs/cores" 1 0 1 0 250 0 6 122 >"$work/settings.ini"
e2e_fake_stat_start
win_start_veska "$work" "${E2E_STAT_WRAPPER[@]}"
e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"

# side LOADS... : the per-core loads, then the loudness of both sides once
# the levels have slid there.
side() {
  e2e_fake_load "$@"
  e2e_await "loads-${*// /-}" 25 "$condition"
  e2e_record "$E2E_TMP/side.wav" 2.2
  e2e_measure "$E2E_TMP/side.wav" --from 0.2
  e2e_log "per-core loads $*: $E2E_LAST_MEASURE"
}
condition="rms_left > 1.5 * rms_right"
side 100 0
e2e_check "$m_rms_left > 0.01 && $m_rms_left > 1.5 * $m_rms_right" \
  "first core busy: left $m_rms_left louder than right $m_rms_right"
loads=()
for ((i = 0; i < cores - 1; i++)); do loads+=(0); done
condition="rms_right > 1.5 * rms_left"
side "${loads[@]}" 100
e2e_check "$m_rms_right > 0.01 && $m_rms_right > 1.5 * $m_rms_left" \
  "last core busy: right $m_rms_right louder than left $m_rms_left"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
echo "PASS: win_stereo_cores"
