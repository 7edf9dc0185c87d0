#!/usr/bin/env bash
# veska.exe under Wine listening to another machine over http: a stand-in
# exporter on a loopback port serves a host whose processor is as busy as
# the test says, sources.ini chooses it, and the pitch of a pitch-mode tone
# follows that load exactly as the mapping of level to frequency says.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../../e2e/remote_lib.sh"
win_init win_remote_host
e2e_require sox curl
[ -x "${VESKA_STANDINS:-}" ] || e2e_skip "VESKA_STANDINS names no stand-in exporters"
win_start

tone=440
work=$E2E_TMP/work
win_workdir "$work"
e2e_make_tone_pack "$work/packs/tone" $tone UseAverages=1 CPUSoundMode=1 \
  RAMSoundMode=1 SlideInterval=20
win_settings "$work/packs/tone" 0.5 0 1 0 250 0 6 122 >"$work/settings.ini"
port=$(e2e_free_ports 1)
control=$E2E_TMP/loads
echo 100 >"$control"
e2e_spawn standins "$VESKA_STANDINS" "$port" 1 "$control"
e2e_wait_until 10 e2e_get "http://127.0.0.1:$port/metrics" ||
  e2e_fail "the stand-in exporter did not answer"
printf '[far]\r\nExporter = http://127.0.0.1:%s/metrics\r\n[Listen]\r\nSource = far\r\n' \
  "$port" >"$work/sources.ini"
win_start_veska "$work"
e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"
for level in 100 30; do
  echo $level >"$control.new" && mv "$control.new" "$control"
  expected=$(e2e_pitch_at $tone $level)
  e2e_await "remote$level" 25 "pitch > $expected - 8 && pitch < $expected + 8"
  e2e_record "$E2E_TMP/remote$level.wav" 2.6
  pitch=$(win_median_pitch "$E2E_TMP/remote$level.wav") || e2e_fail "no pitch in remote$level.wav"
  e2e_check "$pitch > $expected - 3 && $pitch < $expected + 3" \
    "remote load $level%: pitch $pitch Hz, expected $expected Hz"
done
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
echo "PASS: win_remote_host"
