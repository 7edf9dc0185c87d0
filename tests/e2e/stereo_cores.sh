#!/usr/bin/env bash
# Per-core sounds stand left and right: with one sound per core whose volume
# follows that core's load, keeping the first core busy makes the left side
# louder, keeping the last core busy the right side. Where other work keeps
# the machine too busy for that, the same is heard with a load the test
# decides (a /proc/stat of its own in a private mount namespace).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init stereo_cores
e2e_require sox taskset
e2e_require_program
cores=$(e2e_cores)
((cores >= 2)) || e2e_skip "one core only: there is no left and right to tell"
e2e_start_display
e2e_start_sound

work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/cores" 523.25 UseAverages=0 CPUSoundMode=0 \
  RAMSoundMode=0 SlideInterval=20 FrequencyFluctuation=0
e2e_settings_bytes "$work/packs/cores/" 1 0 1 0 250 0 6 122 >"$work/settings.ini"
e2e_start_veska "$work"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"

# side_with_busy CORE : keeps CORE busy, records, and sets the loudness of
# both sides and the loads of the first and last core meanwhile.
side_with_busy() {
  local s0 s1
  e2e_busy "$1"
  sleep 3
  s0=$(e2e_cpu_stat)
  e2e_record "$E2E_TMP/core$1.wav" 2.2
  s1=$(e2e_cpu_stat)
  e2e_idle
  e2e_measure "$E2E_TMP/core$1.wav" --from 0.2
  first_load=$(e2e_core_load "$s0" "$s1" 0)
  last_load=$(e2e_core_load "$s0" "$s1" $((cores - 1)))
  e2e_log "core $1 busy: loads first ${first_load}% last ${last_load}%; $E2E_LAST_MEASURE"
}

# side_with_load SIDE CONDITION LOADS... : the same with a load the test
# decides, recorded once the levels have slid so far that CONDITION holds.
side_with_load() {
  local side=$1 condition=$2
  shift 2
  e2e_fake_load "$@"
  e2e_await "$side" 20 "$condition"
  e2e_record "$E2E_TMP/load.wav" 2.2
  e2e_measure "$E2E_TMP/load.wav" --from 0.2
  e2e_log "per-core loads $*: $E2E_LAST_MEASURE"
}

check_sides() {
  e2e_check "$left_a > 0.01" "the busy first core is heard ($left_a)"
  e2e_check "$left_a > 1.5 * $right_a" "first core busy: left $left_a louder than right $right_a"
  e2e_check "$right_b > 1.5 * $left_b" "last core busy: right $right_b louder than left $left_b"
}

side_with_busy 0
left_a=$m_rms_left right_a=$m_rms_right
quiet_a=$last_load
side_with_busy $((cores - 1))
left_b=$m_rms_left right_b=$m_rms_right
quiet_b=$first_load
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
e2e_stop_veska

# VESKA_E2E_OWN_LOAD=1 takes the second way on any machine. A quiet core at
# half load would leave the sides too close to tell apart by a fixed ratio.
if ((quiet_a <= 30 && quiet_b <= 30)) && [ "${VESKA_E2E_OWN_LOAD:-0}" != 1 ]; then
  check_sides
  echo "PASS: stereo_cores"
  exit 0
fi
# Other work kept the idle side busy as well, so the sides could not differ.
e2e_log "idle cores at ${quiet_a}% and ${quiet_b}%: hearing the sides with a load of the test's own"
e2e_fake_stat_available || e2e_skip "the machine is too busy and has no private mount namespaces for a load of the test's own"
e2e_fake_stat_start
e2e_start_veska "$work" "${E2E_STAT_WRAPPER[@]}"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
side_with_load left "rms_left > 1.5 * rms_right" 100 0
left_a=$m_rms_left right_a=$m_rms_right
loads=()
for ((i = 0; i < cores - 1; i++)); do loads+=(0); done
side_with_load right "rms_right > 1.5 * rms_left" "${loads[@]}" 100
left_b=$m_rms_left right_b=$m_rms_right
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
check_sides
echo "PASS: stereo_cores (with a load of the test's own)"
