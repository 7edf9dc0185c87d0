#!/usr/bin/env bash
# veska.exe under Wine with the stand-in pdh.dll beside it: its icon docks
# in the tray host, its sound reaches the sound server, each loaded sound
# says its "WAV Header Info" on the redirected standard output, and the
# pitch of a pitch-mode tone follows a load the test decides (a /proc/stat
# of its own, which Wine's processor times follow) exactly as the mapping
# of level to playback frequency says.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_load_pitch
e2e_require sox unshare
e2e_fake_stat_available || e2e_skip "no private mount namespaces here for a load of the test's own"
win_start

tone=440
work=$E2E_TMP/work
win_workdir "$work" standin
e2e_make_tone_pack "$work/packs/tone" $tone UseAverages=1 CPUSoundMode=1 \
  RAMSoundMode=1 SlideInterval=20
win_settings "$work/packs/tone" 0.5 0 1 0 250 0 6 122 >"$work/settings.ini"
e2e_fake_stat_start
win_start_veska "$work" "${E2E_STAT_WRAPPER[@]}"
e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"
e2e_wait_tray_icon 15 >/dev/null || e2e_fail "no icon appeared in the tray host"
e2e_log "ok: the icon docked and the sound plays"
# One loaded sound, the pack's cpu.wav: its two lines.
e2e_wait_until 5 eval '[ "$(e2e_count_lines "$E2E_TMP/logs/veska.log" "WAV Header Info")" -ge 2 ]' ||
  e2e_fail "no \"WAV Header Info\" lines on standard output: $(tr -d '\r' <"$E2E_TMP/logs/veska.log" | head -n 3)"
for level in 0 50 100 20; do
  e2e_fake_load $level
  expected=$(e2e_pitch_at $tone $level)
  e2e_await "level$level" 25 "pitch > $expected - 8 && pitch < $expected + 8"
  e2e_record "$E2E_TMP/level$level.wav" 2.6
  pitch=$(win_median_pitch "$E2E_TMP/level$level.wav") || e2e_fail "no pitch in level$level.wav"
  e2e_check "$pitch > $expected - 3 && $pitch < $expected + 3" \
    "load $level%: pitch $pitch Hz, expected $expected Hz"
done
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
echo "PASS: win_load_pitch"
