#!/usr/bin/env bash
# veska.exe under Wine listening to other machines over http: a stand-in
# exporter on a loopback port serves a host whose processor is as busy as
# the test says, sources.ini chooses it, and the pitch of a pitch-mode tone
# follows that load exactly as the mapping of level to frequency says. Then
# "Listen to" switches to a real metrics server scraping the same host, and
# the pitch follows the load through the server's query API.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../../e2e/remote_lib.sh"
win_init win_remote_host
e2e_require sox curl prometheus
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
server_port=$(e2e_free_ports 1)
printf '[far]\r\nExporter = http://127.0.0.1:%s/metrics\r\n' "$port" >"$work/sources.ini"
printf '[fleet]\r\nPrometheus = http://127.0.0.1:%s\r\nWindow = 5s\r\n' \
  "$server_port" >>"$work/sources.ini"
printf '[Listen]\r\nSource = far\r\n' >>"$work/sources.ini"
# set_load PERCENT : the stand-in host's load.
set_load() { echo "$1" >"$control.new" && mv "$control.new" "$control"; }
# hear LEVEL : the pitch reaches the level's and holds it.
hear() {
  local expected pitch
  expected=$(e2e_pitch_at $tone "$1")
  e2e_await "level$1" 25 "pitch > $expected - 8 && pitch < $expected + 8"
  e2e_record "$E2E_TMP/level$1.wav" 2.6
  pitch=$(win_median_pitch "$E2E_TMP/level$1.wav") || e2e_fail "no pitch in level$1.wav"
  e2e_check "$pitch > $expected - 3 && $pitch < $expected + 3" \
    "load $1%: pitch $pitch Hz, expected $expected Hz"
}
win_start_veska "$work"
e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"
set_load 100
hear 100
set_load 30
hear 30

printf 'global: {scrape_interval: 1s, scrape_timeout: 1s}\nscrape_configs:\n  - job_name: fleet\n    static_configs: [{targets: [127.0.0.1:%s]}]\n' \
  "$port" >"$E2E_TMP/prometheus.yml"
e2e_start_prometheus "$server_port" "$E2E_TMP/prometheus.yml"
set_load 60
win_menu Down Down Down Down Down Down Right Down Down Return # Listen to > fleet
hear 60
tr -d '\r' <"$work/sources.ini" | grep -qx 'Source = fleet' ||
  e2e_fail "the choice of the fleet was not kept in sources.ini"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
# Ended before the servers it asks, as a session's end would.
win_stop_veska
echo "PASS: win_remote_host"
