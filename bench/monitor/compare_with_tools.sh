#!/usr/bin/env bash
# Compares the loads this program reads with the system's own tools over the
# same stretch of time, each under a known load:
#   CPU   core 0 kept busy by a pinned loop; per core against mpstat
#         (busy = 100 - %idle - %iowait)
#   disk  direct writes by dd; against iostat's %util, averaged over the
#         same whole disks
#   RAM   1 GiB held by a helper; against free (used = total - available)
# Usage: compare_with_tools.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
export LC_ALL=C

build=${1:-build}
seconds=${2:-5}
probe=$build/bench/monitor/veska_load_probe
[ -x "$probe" ] || { echo "no $probe: build target veska_load_probe" >&2; exit 1; }
for tool in mpstat iostat free taskset dd python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/veska-compare-XXXXXX")
load_pid=""
stop_load() {
  if [ -n "$load_pid" ]; then
    # Each load runs in a process group of its own, so a dd in the middle
    # of its write ends with the loop around it.
    kill -- "-$load_pid" 2>/dev/null || true
    wait "$load_pid" 2>/dev/null || true
    load_pid=""
  fi
}
trap 'stop_load; rm -rf "$work"' EXIT

failures=0
report() {  # name ours theirs limit
  awk -v n="$1" -v a="$2" -v b="$3" -v l="$4" 'BEGIN {
    d = a - b; if (d < 0) d = -d
    printf "%-8s veska %7.2f  tool %7.2f  diff %5.2f  %s\n", n, a, b, d,
           (d <= l ? "ok" : "OFF (limit " l ")")
    exit (d <= l ? 0 : 1) }' || failures=$((failures + 1))
}

echo "== CPU: core 0 busy, ${seconds}s"
setsid taskset -c 0 bash -c 'while :; do :; done' &
load_pid=$!
sleep 1
mpstat -P ALL 1 "$seconds" >"$work/mpstat" &
tool_pid=$!
"$probe" "$seconds" >"$work/cpu"
wait "$tool_pid"
stop_load
while read -r _ core ours; do
  theirs=$(awk -v c="$core" '$1 == "Average:" && $2 == c {
    print 100 - $NF - $6 }' "$work/mpstat")
  report "core $core" "$ours" "$theirs" 2
done < <(grep '^cpu ' "$work/cpu")

echo "== Disk: direct writes, ${seconds}s"
setsid bash -c 'while :; do
  dd if=/dev/zero of="$1" bs=1M count=256 oflag=direct conv=notrunc status=none
done' _ "$work/written" &
load_pid=$!
sleep 1
iostat -dxy 1 "$seconds" >"$work/iostat" &
tool_pid=$!
"$probe" "$seconds" >"$work/disk"
wait "$tool_pid"
stop_load
ours=$(awk '$1 == "disk" { print $2 }' "$work/disk")
# The same whole disks the program averages over.
theirs=$(awk '
  $1 == "Device" { next }
  NF > 10 && $1 !~ /^(loop|ram|zram|dm-|md|nbd|sr|fd)/ {
    sum[$1] += $NF; count[$1]++ }
  END { total = 0; disks = 0
        for (d in sum) { total += sum[d] / count[d]; disks++ }
        print disks ? total / disks : 0 }' "$work/iostat")
report "disk" "$ours" "$theirs" 5

echo "== RAM: 1 GiB held"
setsid python3 -c '
import sys, time
block = bytearray(1 << 30)
for i in range(0, len(block), 4096): block[i] = 1
sys.stdout.write("held\n"); sys.stdout.flush(); time.sleep(60)' >"$work/held" &
load_pid=$!
for _ in $(seq 100); do grep -q held "$work/held" 2>/dev/null && break; sleep 0.1; done
"$probe" 0 >"$work/ram"
free -b >"$work/free"
stop_load
ours=$(awk '$1 == "ram" { print $2 }' "$work/ram")
theirs=$(awk '$1 == "Mem:" { print ($2 - $7) / $2 * 100 }' "$work/free")
report "ram" "$ours" "$theirs" 2

echo "== $failures reading(s) off"
[ "$failures" -eq 0 ]
