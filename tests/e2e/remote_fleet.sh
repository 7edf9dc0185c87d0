#!/usr/bin/env bash
# A fleet through a real metrics server: eight stand-in exporters (one small
# server on eight loopback ports) scraped every second, one voice per host
# spread left to right in the order of the hosts' names. One host busy is
# heard on its side; a host that goes is silenced and comes back; the server
# stopped is said once and the sound comes back when it starts again. At
# the end, veska-pack replays the server's record of the run twice as fast:
# each host is loud exactly where the test made it busy.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/remote_lib.sh"
e2e_init remote_fleet
e2e_require sox curl prometheus
e2e_require_program
[ -x "${VESKA_STANDINS:-}" ] || e2e_skip "VESKA_STANDINS names no stand-in exporters"
[ -x "${VESKA_PACK:-}" ] || e2e_skip "VESKA_PACK names no veska-pack"
now() { date +%s.%N; }
e2e_start_display
e2e_start_sound

hosts=8
base=$(e2e_free_ports $((hosts + 1)))
server_port=$((base + hosts))
control=$E2E_TMP/loads
loads() { echo "$*" >"$control.new" && mv "$control.new" "$control"; }
loads 0 0 0 0 0 0 0 0
e2e_spawn standins "$VESKA_STANDINS" "$base" "$hosts" "$control"
e2e_wait_until 10 grep -q ready "$E2E_TMP/logs/standins.log" ||
  e2e_fail "the stand-in exporters did not start"

targets=""
for ((i = 0; i < hosts; i++)); do targets+="${targets:+, }'127.0.0.1:$((base + i))'"; done
cat >"$E2E_TMP/prometheus.yml" <<YAML
global: {scrape_interval: 1s, scrape_timeout: 1s, evaluation_interval: 1s}
scrape_configs:
  - job_name: fleet
    static_configs: [{targets: [$targets]}]
YAML
e2e_start_prometheus "$server_port" "$E2E_TMP/prometheus.yml"
server=http://127.0.0.1:$server_port
# Every host scraped twice, so that rates exist before the program asks.
answered() {
  e2e_get "$server/api/v1/query" --data-urlencode \
    'query=count(irate(node_cpu_seconds_total{job="fleet",mode="idle"}[5s]))' |
    grep -q "\"$hosts\"\]"
}
e2e_wait_until 20 answered || e2e_fail "the server had no rates of all $hosts hosts within 20 s"

work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/fleet" 523.25 UseAverages=0 CPUSoundMode=0 \
  RAMSoundMode=0 SlideInterval=10 FrequencyFluctuation=0
e2e_settings_bytes "$work/packs/fleet/" 1 0 1 0 250 0 6 122 >"$work/settings.ini"
printf '[fleet]\nPrometheus = %s\nSelector = job="fleet"\nWindow = 5s\n[Listen]\nSource = fleet\n' \
  "$server" >"$work/sources.ini"
e2e_start_veska "$work"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"

# Each stretch is held a few seconds past the moment it is heard, and its
# times kept for the replay.
first_set=$(now)
loads 100 0 0 0 0 0 0 0
e2e_await first_host 20 "rms_left > 0.01 && rms_left > 1.5 * rms_right"
first_from=$(now) && sleep 4 && first_to=$(now)
loads 0 0 0 0 0 0 0 100
e2e_await last_host 20 "rms_right > 0.01 && rms_right > 1.5 * rms_left"
loud=$m_rms
last_from=$(now) && sleep 4 && last_to=$(now)
loads 0 0 0 0 0 0 0 gone
e2e_await last_host_gone 15 "rms < 0.1 * $loud"
gone_from=$(now) && sleep 3 && gone_to=$(now)
loads 0 0 0 0 0 0 0 100
e2e_await last_host_back 20 "rms_right > 0.5 * $loud"

e2e_stop_pid "$E2E_PROMETHEUS_PID"
e2e_await server_gone 15 "rms < 0.1 * $loud"
e2e_wait_until 10 e2e_log_has "VESKA: fleet does not answer" ||
  e2e_fail "the program did not say that the server is gone"
e2e_start_prometheus "$server_port" "$E2E_TMP/prometheus.yml"
e2e_await server_back 30 "rms_right > 0.5 * $loud"
e2e_wait_until 10 e2e_log_has "VESKA: fleet answers again" ||
  e2e_fail "the program did not say that the server is back"
told=$(e2e_count_lines "$E2E_TMP/logs/veska.log" "does not answer")
((told == 1)) || e2e_fail "the outage was told $told times, not once"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
e2e_stop_veska

speed=2
range=$(awk -v a="$first_from" -v b="$(now)" 'BEGIN { printf "%d", b - a + 8 }')
replay_start=$(awk -v b="$(now)" -v r="$range" 'BEGIN { printf "%.3f", b - r }')
(cd "$work" && e2e_bounded 60 "$VESKA_PACK" preview "$work/packs/fleet/" \
  -o "$E2E_TMP/replay.wav" --listen fleet --range "${range}s" --speed $speed \
  --volume 100) >"$E2E_TMP/logs/replay.log" 2>&1 ||
  e2e_fail "veska-pack could not replay the fleet"
# replay_at FROM TO : the replay's stretch that plays wall times FROM..TO.
replay_at() {
  local a b
  a=$(awk -v t="$1" -v s="$replay_start" -v n=$speed 'BEGIN { printf "%.3f", (t - s) / n }')
  b=$(awk -v t="$2" -v s="$replay_start" -v n=$speed 'BEGIN { printf "%.3f", (t - s) / n }')
  e2e_measure "$E2E_TMP/replay.wav" --from "$a" --to "$b"
  e2e_log "replay of $a..$b s: $E2E_LAST_MEASURE"
}
replay_at "$(awk -v t="$replay_start" 'BEGIN { printf "%.3f", t + 1 }')" \
  "$(awk -v t="$first_set" 'BEGIN { printf "%.3f", t - 0.5 }')"
e2e_check "$m_rms < 0.01" "the replay is silent before any host was busy ($m_rms)"
replay_at "$(awk -v t="$first_from" 'BEGIN { printf "%.3f", t + 1 }')" "$first_to"
e2e_check "$m_rms_left > 0.01 && $m_rms_left > 1.5 * $m_rms_right" \
  "the replay has the first host busy on the left ($m_rms_left, $m_rms_right)"
replay_at "$(awk -v t="$last_from" 'BEGIN { printf "%.3f", t + 1 }')" "$last_to"
e2e_check "$m_rms_right > 0.01 && $m_rms_right > 1.5 * $m_rms_left" \
  "the replay has the last host busy on the right ($m_rms_left, $m_rms_right)"
replay_loud=$m_rms
replay_at "$(awk -v t="$gone_from" 'BEGIN { printf "%.3f", t + 1 }')" "$gone_to"
e2e_check "$m_rms < 0.1 * $replay_loud" "the replay is silent while the host was gone ($m_rms)"
echo "PASS: remote_fleet"
