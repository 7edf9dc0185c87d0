#!/usr/bin/env bash
# The sound follows the load: a soundpack whose CPU sound is a pure 440 Hz
# tone in pitch mode plays near the tone's own pitch when the machine idles,
# and at the pitch that the mapping of level to playback frequency gives when
# every core is busy, at the same loudness. Then, with a load the test
# decides (a /proc/stat of its own in a private mount namespace), the pitch
# at levels 0, 50 and 100 is exactly the mapping's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init load_pitch
e2e_require sox taskset
e2e_require_program
e2e_start_display
e2e_start_sound

tone=440
work=$E2E_TMP/work
e2e_workdir "$work"
# A short slide interval lets the level cross the whole range in about two
# seconds; the RAM sound is off so that the tone stands alone.
e2e_make_tone_pack "$work/packs/tone" $tone UseAverages=1 CPUSoundMode=1 \
  RAMSoundMode=1 SlideInterval=20
e2e_settings_bytes "$work/packs/tone/" 0.5 0 1 0 250 0 6 122 >"$work/settings.ini"
e2e_start_veska "$work"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"

# measure_phase NAME : lets the level settle, records two seconds, and sets
# the pitch, loudness and the range of load seen meanwhile.
measure_phase() {
  local s0 s1 s2
  s0=$(e2e_cpu_stat)
  sleep 3.5
  s1=$(e2e_cpu_stat)
  e2e_record "$E2E_TMP/$1.wav" 2.2
  s2=$(e2e_cpu_stat)
  e2e_measure "$E2E_TMP/$1.wav" --from 0.2
  settle_load=$(e2e_mean_load "$s0" "$s1")
  window_load=$(e2e_mean_load "$s1" "$s2")
  e2e_log "$1: load ${settle_load}% then ${window_load}%; $E2E_LAST_MEASURE"
}

# The machine's own load wavers and other programs share it, so with that
# load only the direction and the ends of the mapping are checked; the
# exact mapping is checked below, with a load the test decides.
measure_phase idle
idle_pitch=$m_pitch
idle_rms=$m_rms
idle_load=$window_load

e2e_busy $(seq 0 $(($(e2e_cores) - 1)))
measure_phase busy
e2e_idle
e2e_check "$window_load >= 90" "every core busy reads as ${window_load}% load"
# Level 100 plays the 22050 Hz tone at 72050 Hz.
e2e_check "$m_pitch > $(e2e_pitch_at $tone 94)" "busy pitch $m_pitch Hz is near $(e2e_pitch_at $tone 100) Hz"
if ((idle_load < 60)); then
  e2e_check "$m_pitch - $idle_pitch > 300" "busy pitch rose from $idle_pitch Hz"
fi
# Pitch mode holds the volume at Volume x 100, whatever the level.
e2e_check "$idle_rms > 0.01 && $m_rms / $idle_rms > 0.8 && $m_rms / $idle_rms < 1.25" \
  "loudness stays ($idle_rms idle, $m_rms busy)"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
e2e_stop_veska

if ! e2e_fake_stat_available; then
  echo "PASS: load_pitch (with the machine's own load only: no private mount namespaces here)"
  exit 0
fi
e2e_log "with a load the test decides"
e2e_fake_stat_start
e2e_start_veska "$work" "${E2E_STAT_WRAPPER[@]}"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
for level in 0 50 100 20; do
  e2e_fake_load $level
  expected=$(e2e_pitch_at $tone $level)
  # The level slides to the load in about two seconds of the program's
  # time, longer on a busy machine.
  e2e_await "level$level" 20 "pitch > $expected - 8 && pitch < $expected + 8"
  e2e_record "$E2E_TMP/level$level.wav" 1.7
  e2e_measure "$E2E_TMP/level$level.wav" --from 0.2
  e2e_check "$m_pitch > $expected - 3 && $m_pitch < $expected + 3" \
    "load $level%: pitch $m_pitch Hz, expected $expected Hz"
done
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
echo "PASS: load_pitch"
