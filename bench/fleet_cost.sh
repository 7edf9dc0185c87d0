#!/usr/bin/env bash
# What listening to a fleet costs against playing this computer with the
# same pack: a stand-in for the metrics server's query API answers every
# question about HOSTS hosts (1,000 series a refresh), and the program plays
# the fleet at RefreshTime 1 s. For each, the median of RUNS starts: CPU of
# the whole process over SECONDS and its resident memory; then the fleet's
# figures as ratios.
#
# Usage: bench/fleet_cost.sh [SECONDS] [RUNS] [HOSTS] [PACK]
#        (20 s, 3 runs, 1000 hosts, the bundled tidewater)
# Environment: VESKA_BIN (default build/veska), VESKA_STANDINS (default
# build/tests/e2e/veska_standin_exporters).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/remote_lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/bench_lib.sh"
e2e_init fleet_cost
seconds=${1:-20}
runs=${2:-3}
hosts=${3:-1000}
pack=$(realpath "${4:-$E2E_SRC/packs/tidewater}")
VESKA_BIN=$(realpath "${VESKA_BIN:-build/veska}")
standins=$(realpath "${VESKA_STANDINS:-build/tests/e2e/veska_standin_exporters}")
[ -x "$VESKA_BIN" ] || e2e_fail "no program at $VESKA_BIN (build it first)"
[ -x "$standins" ] || e2e_fail "no stand-ins at $standins (build them first)"
e2e_start_display
e2e_start_sound

work=$E2E_TMP/work
e2e_workdir "$work"
e2e_settings_bytes "$pack/" 0.1 1 1 1 1000 0 6 122 >"$work/settings.ini"
port=$(e2e_free_ports 1)
e2e_spawn api "$standins" --api "$port" "$hosts"
e2e_wait_until 10 grep -q ready "$E2E_TMP/logs/api.log" || e2e_fail "the stand-in API did not start"

# run WHAT : sets RUN to "process_% rss_mib" for this computer or the fleet.
run() {
  local t0 t1 all0 all1 rss
  rm -f "$work/sources.ini"
  if [ "$1" = fleet ]; then
    printf '[fleet]\nPrometheus = http://127.0.0.1:%s\n[Listen]\nSource = fleet\n' \
      "$port" >"$work/sources.ini"
  fi
  e2e_start_veska "$work"
  e2e_wait_until 20 e2e_has_player || e2e_fail "$1: no sound reached the server"
  sleep 5
  t0=$EPOCHREALTIME
  all0=$(cpu_ns "$VESKA_PID")
  sleep "$seconds"
  all1=$(cpu_ns "$VESKA_PID")
  t1=$EPOCHREALTIME
  rss=$(awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' /proc/"$VESKA_PID"/status)
  e2e_stop_veska
  forget "$VESKA_PID"
  RUN=$(awk -v a0="$all0" -v a1="$all1" -v t0="$t0" -v t1="$t1" -v r="$rss" \
    'BEGIN { printf "%.3f %s\n", (a1 - a0) / 1e7 / (t1 - t0), r }')
}

declare -A result
for what in computer fleet; do
  cpus=() rsss=()
  for ((i = 0; i < runs; i++)); do
    run "$what"
    read -r c r <<<"$RUN"
    e2e_log "$what, run $((i + 1)): process ${c} % of a core, RSS ${r} MiB"
    cpus+=("$c") rsss+=("$r")
  done
  result[$what]="$(median "${cpus[@]}") $(median "${rsss[@]}")"
done

printf '%-14s %15s %9s\n' listening "process %core" "RSS MiB"
for what in computer fleet; do
  read -r c r <<<"${result[$what]}"
  printf '%-14s %15s %9s\n' "$what" "$c" "$r"
done
read -r c0 r0 <<<"${result[computer]}"
read -r c1 r1 <<<"${result[fleet]}"
awk -v c0="$c0" -v c1="$c1" -v r0="$r0" -v r1="$r1" -v n="$hosts" 'BEGIN {
  printf "a fleet of %d hosts against this computer: CPU %.2fx (goal <= 2x), RSS %.2fx (goal <= 1.3x)\n",
    n, c1 / c0, r1 / r0
  print "goal: " ((c1 <= 2 * c0 && r1 <= 1.3 * r0) ? "met" : "missed") }'
