#!/usr/bin/env bash
# What a per-core soundpack costs on a machine with many processors, against
# the same pack on this machine's own processor count. The program reads a
# /proc/stat of ours (bind mounted in a private mount namespace) that lists
# either as many processors as the machine has or 64 of them, all idle; the
# pack (UseAverages=0, CPU mode 2, cpu_a/cpu_b and ram as 60-second stereo
# 44.1 kHz FLAC loops) is made here with sox and flac. For each count, the
# median of RUNS starts: the time from start to the last sound loaded, the
# resident memory, and the CPU of the mixing (the sound output's thread) and
# of the whole process; then the 64-processor figures as ratios.
#
# Usage: bench/many_cores.sh [SECONDS] [RUNS] [CORES]   (20 s, 3 runs, 64)
# Environment: VESKA_BIN (default build/veska).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/bench_lib.sh"
e2e_init many_cores
seconds=${1:-20}
runs=${2:-3}
many=${3:-64}
VESKA_BIN=$(realpath "$VESKA_BIN")
[ -x "$VESKA_BIN" ] || e2e_fail "no program at $VESKA_BIN (build it first)"
e2e_require sox flac
e2e_fake_stat_available || e2e_skip "no private mount namespaces here"
e2e_start_display
e2e_start_sound

work=$E2E_TMP/work
e2e_workdir "$work"
pack=$work/packs/percore
mkdir -p "$pack"
sox -n -r 44100 -c 2 -b 16 "$pack/cpu_a.flac" synth 60 sine 220 sine 331 vol 0.3
sox -n -r 44100 -c 2 -b 16 "$pack/cpu_b.flac" synth 60 pinknoise sine 440 vol 0.3
sox -n -r 44100 -c 2 -b 16 "$pack/ram.flac" synth 60 brownnoise brownnoise vol 0.3
printf '[soundpack]\r\nUseAverages=0\r\nCPUSoundMode=2\r\nRAMSoundMode=0\r\nFrequencyFluctuation=1\r\n' \
  >"$pack/prefs.ini"
e2e_settings_bytes "$pack/" 0.1 1 1 0 500 0 6 122 >"$work/settings.ini"

# run CORES : sets RUN to "load_seconds rss_mib mixing_% process_%".
run() {
  local cores=$1 dir=$E2E_TMP/stat$1 writer t0 loaded lines mix0 all0 t1 mix1 all1
  mkdir -p "$dir"
  echo 0 >"$dir/load"
  grep -v '^cpu' /proc/stat >"$dir/rest"
  e2e_write_fake_stat "$cores" "$dir" </dev/null >/dev/null 2>&1 &
  writer=$!
  E2E_PIDS+=("$writer")
  e2e_wait_until 5 test -s "$dir/stat" || e2e_fail "the /proc/stat writer did not start"
  # One "WavSize" line per sound: cpu_a and cpu_b per core, and ram.
  lines=$((2 * cores + 1))
  t0=$EPOCHREALTIME
  e2e_start_veska "$work" unshare -m sh -c 'mount --bind "$0" /proc/stat && exec "$1"' "$dir/stat"
  local log=$E2E_TMP/logs/veska.log deadline=$((SECONDS + 120))
  until [ "$(grep -c 'WavSize' "$log" 2>/dev/null)" -ge "$lines" ]; do
    ((SECONDS < deadline)) || e2e_fail "$cores processors: the pack did not load within 120 s"
    e2e_alive "$VESKA_PID" || e2e_fail "$cores processors: the program ended"
    sleep 0.005
  done
  loaded=$(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }')
  e2e_wait_until 20 e2e_has_player || e2e_fail "$cores processors: no sound reached the server"
  sleep 5
  t0=$EPOCHREALTIME
  mix0=$(cpu_ns "$VESKA_PID" "VESKA sound")
  all0=$(cpu_ns "$VESKA_PID")
  sleep "$seconds"
  mix1=$(cpu_ns "$VESKA_PID" "VESKA sound")
  all1=$(cpu_ns "$VESKA_PID")
  t1=$EPOCHREALTIME
  local rss
  rss=$(awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' /proc/"$VESKA_PID"/status)
  e2e_stop_veska
  forget "$VESKA_PID"
  kill -TERM "$writer" 2>/dev/null || true
  wait "$writer" 2>/dev/null || true
  forget "$writer"
  RUN=$(awk -v l="$loaded" -v r="$rss" -v m0="$mix0" -v m1="$mix1" -v a0="$all0" -v a1="$all1" \
    -v t0="$t0" -v t1="$t1" 'BEGIN {
      s = t1 - t0; printf "%s %s %.3f %.3f\n", l, r, (m1 - m0) / 1e7 / s, (a1 - a0) / 1e7 / s }')
}

base=$(e2e_cores)
declare -A result
for cores in "$base" "$many"; do
  loads=() rsss=() mixes=() alls=()
  for ((i = 0; i < runs; i++)); do
    run "$cores"
    read -r l r m a <<<"$RUN"
    e2e_log "$cores processors, run $((i + 1)): load ${l} s, RSS ${r} MiB, mixing ${m} %, process ${a} %"
    loads+=("$l") rsss+=("$r") mixes+=("$m") alls+=("$a")
  done
  result[$cores]="$(median "${loads[@]}") $(median "${rsss[@]}") $(median "${mixes[@]}") $(median "${alls[@]}")"
done

printf '%-11s %10s %9s %14s %15s\n' processors "load s" "RSS MiB" "mixing %core" "process %core"
for cores in "$base" "$many"; do
  read -r l r m a <<<"${result[$cores]}"
  printf '%-11s %10s %9s %14s %15s\n' "$cores" "$l" "$r" "$m" "$a"
done
read -r l0 r0 _ _ <<<"${result[$base]}"
read -r l1 r1 m1 _ <<<"${result[$many]}"
awk -v l0="$l0" -v l1="$l1" -v r0="$r0" -v r1="$r1" -v m1="$m1" -v n="$many" -v b="$base" 'BEGIN {
  printf "at %d processors against %d: load time %.2fx, RSS %.2fx (goal <= 1.3x each); mixing %.2f %% of a core (goal <= 1 %%)\n",
    n, b, l1 / l0, r1 / r0, m1
  ok = l1 <= 1.3 * l0 && r1 <= 1.3 * r0 && m1 <= 1
  print "goal: " (ok ? "met" : "missed") }'
