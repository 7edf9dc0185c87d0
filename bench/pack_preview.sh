#!/usr/bin/env bash
# How fast veska-pack renders a preview: the default 60-second load script
# (idle, one core busy, every core busy, RAM rising, disk bursts, idle) on 2
# cores, for every bundled pack, with the WAV file and the spectrogram
# picture written. For each pack, over RUNS renders: the median wall time,
# the median CPU time (user and system; what the render costs whatever else
# the machine runs), the largest resident memory, and how many times faster
# than real time the median wall time is.
#
# Usage: bench/pack_preview.sh [RUNS]   (5 runs)
# Environment: VESKA_PACK (default build/veska-pack).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tool="$(realpath "${VESKA_PACK:-$here/../build/veska-pack}")"
runs=${1:-5}
[ -x "$tool" ] || { echo "pack_preview: no veska-pack at $tool (build it first)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

printf '%-12s %8s %8s %10s %8s\n' pack "wall s" "CPU s" "max RSS MB" "x real"
for pack in "$here"/../packs/*/; do
  name="$(basename "$pack")"
  : >"$work/times"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%e %M %U %S' -o "$work/one" "$tool" preview "$pack" --cores 2 \
      -o "$work/p.wav" --png "$work/p.png" 2>/dev/null
    cat "$work/one" >>"$work/times"
  done
  awk -v name="$name" -v n="$runs" '
    { wall[NR] = $1; cpu[NR] = $3 + $4; if ($2 > m) m = $2 }
    function median(a,   i, j, t) {
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
        if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return a[int((n + 1) / 2)]
    }
    END { w = median(wall); c = median(cpu)
          printf "%-12s %8.2f %8.2f %10.1f %8.0f\n", name, w, c, m / 1024, 60 / (w > 0 ? w : 0.01) }' "$work/times"
done
echo "(load average $(cut -d' ' -f1 /proc/loadavg) on $(nproc) cores: wall time grows with other work on the machine, CPU time hardly)"
