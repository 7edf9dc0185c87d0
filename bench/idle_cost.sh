#!/usr/bin/env bash
# What the running program costs the machine while it only plays: the built
# program with each bundled soundpack, on the private desktop of the
# end-to-end tests (virtual display, tray host, sound server with a null
# sink), beside `paplay` playing a WAV file into the same server over the
# same window of time. Prints, per pack, the CPU time of all its threads as
# a percentage of one core, its wakeups per second (voluntary and forced
# context switches of all threads), its resident memory, the same for
# paplay, and the figures per thread.
#
# Usage: bench/idle_cost.sh [SECONDS] [PACK...]   (60 s, every bundled pack)
# Environment: VESKA_BIN (default build/veska).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib.sh"
e2e_init idle_cost
seconds=${1:-60}
shift || true
packs=("$@")
((${#packs[@]})) || packs=(tidewater glasshouse clockwork hearthside)
VESKA_BIN=$(realpath "$VESKA_BIN")
[ -x "$VESKA_BIN" ] || e2e_fail "no program at $VESKA_BIN (build it first)"
e2e_require sox paplay
e2e_start_display
e2e_start_sound

# sample PID : "cpu_ns switches" summed over the threads, then one
# "tid:comm:cpu_ns:switches" word per thread.
sample() {
  local task ns sw total_ns=0 total_sw=0 words="" comm key value
  for task in /proc/"$1"/task/*; do
    read -r ns _ <"$task/schedstat" 2>/dev/null || continue
    sw=0
    while read -r key value; do
      case $key in
        voluntary_ctxt_switches: | nonvoluntary_ctxt_switches:) sw=$((sw + value)) ;;
      esac
    done <"$task/status"
    comm=$(tr ' :' '__' <"$task/comm")
    total_ns=$((total_ns + ns))
    total_sw=$((total_sw + sw))
    words+=" ${task##*/}:$comm:$ns:$sw"
  done
  echo "$total_ns $total_sw$words"
}

# Drops a process that has ended from the harness's list, so that the
# clean-up never signals a later process that got its number.
forget() {
  local pid keep=()
  for pid in "${E2E_PIDS[@]}"; do [ "$pid" = "$1" ] || keep+=("$pid"); done
  E2E_PIDS=("${keep[@]}")
}

rss_mib() { awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' /proc/"$1"/status; }

# figures BEFORE AFTER WALL_SECONDS : "cpu% wakeups/s" of the whole process.
figures() {
  awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN {
    split(a, x, " "); split(b, y, " ")
    printf "%.3f %.1f", (y[1] - x[1]) / 1e7 / s, (y[2] - x[2]) / s }'
}

# per_thread BEFORE AFTER WALL_SECONDS : one line per thread name.
per_thread() {
  awk -v a="$1" -v b="$2" -v s="$3" 'BEGIN {
    n = split(a, x, " ")
    for (i = 3; i <= n; i++) { split(x[i], f, ":"); ns0[f[1]] = f[3]; sw0[f[1]] = f[4] }
    n = split(b, y, " ")
    for (i = 3; i <= n; i++) {
      split(y[i], f, ":")
      cpu[f[2]] += (f[3] - ns0[f[1]]) / 1e7 / s
      wake[f[2]] += (f[4] - sw0[f[1]]) / s
      count[f[2]]++
    }
    for (c in cpu)
      printf "    thread %-16s x%-2d %7.3f %% of a core %7.1f wakeups/s\n", c, count[c], cpu[c], wake[c]
  }'
}

work=$E2E_TMP/work
e2e_workdir "$work"
ln -s "$E2E_SRC"/packs/* "$work/packs/"
wav=$E2E_TMP/floor.wav
sox -n -r 48000 -c 2 -b 16 "$wav" synth "$((seconds + 30))" sine 440 vol 0.2 ||
  e2e_fail "sox could not make the WAV file for paplay"

printf '%-12s %10s %10s %8s | %10s %10s %8s | %8s\n' pack "cpu%core" "wakeups/s" "RSS MiB" \
  "paplay cpu" "wakeups/s" "RSS MiB" "goal"
met=1
for pack in "${packs[@]}"; do
  [ -d "$work/packs/$pack" ] || e2e_fail "no bundled pack $pack"
  e2e_settings_bytes "$work/packs/$pack/" 0.1 1 1 1 500 0 6 122 >"$work/settings.ini"
  e2e_spawn paplay paplay "$wav"
  floor_pid=$E2E_LAST_PID
  e2e_start_veska "$work"
  e2e_wait_until 20 e2e_has_player || e2e_fail "$pack: no sound reached the sound server"
  e2e_wait_until 20 eval '[ "$(pactl list short sink-inputs | wc -l)" -ge 2 ]' ||
    e2e_fail "$pack: the program's sound and paplay's did not both start"
  sleep 5  # start-up and the first glides are over
  t0=$EPOCHREALTIME
  v0=$(sample "$VESKA_PID")
  f0=$(sample "$floor_pid")
  sleep "$seconds"
  v1=$(sample "$VESKA_PID")
  f1=$(sample "$floor_pid")
  wall=$(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
  e2e_alive "$VESKA_PID" || e2e_fail "$pack: the program ended during the measurement"
  read -r cpu wake <<<"$(figures "$v0" "$v1" "$wall")"
  read -r fcpu fwake <<<"$(figures "$f0" "$f1" "$wall")"
  verdict=met
  awk -v c="$cpu" -v w="$wake" 'BEGIN { exit !(c <= 0.25 && w <= 50) }' || { verdict=missed; met=0; }
  printf '%-12s %10s %10s %8s | %10s %10s %8s | %8s\n' "$pack" "$cpu" "$wake" \
    "$(rss_mib "$VESKA_PID")" "$fcpu" "$fwake" "$(rss_mib "$floor_pid")" "$verdict"
  per_thread "$v0" "$v1" "$wall"
  awk -v w="$wake" -v f="$fwake" 'BEGIN {
    if (f > 0) printf "    wakeups %.1fx those of paplay\n", w / f }'
  e2e_stop_veska
  forget "$VESKA_PID"
  kill -TERM "$floor_pid" 2>/dev/null || true
  wait "$floor_pid" 2>/dev/null || true
  forget "$floor_pid"
done
echo "goal: <= 0.25 % of a core and <= 50 wakeups/s for every pack: $( ((met)) && echo met || echo missed) (${seconds} s each)"
