#!/usr/bin/env bash
# How fast veska-pack renders a preview: the default 60-second load script
# (idle, one core busy, every core busy, RAM rising, disk bursts, idle) on 2
# cores, for every bundled pack, with the WAV file and the spectrogram
# picture written. For each pack, the median wall time and the largest
# resident memory of RUNS renders, and how many times faster than real time.
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

printf '%-12s %10s %10s %8s\n' pack "median s" "max RSS MB" "x real"
for pack in "$here"/../packs/*/; do
  name="$(basename "$pack")"
  : >"$work/times"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%e %M' -o "$work/one" "$tool" preview "$pack" --cores 2 \
      -o "$work/p.wav" --png "$work/p.png" 2>/dev/null
    cat "$work/one" >>"$work/times"
  done
  sort -n "$work/times" | awk -v name="$name" -v n="$runs" '
    { t[NR] = $1; if ($2 > m) m = $2 }
    END { med = t[int((n + 1) / 2)]
          printf "%-12s %10.2f %10.1f %8.0f\n", name, med, m / 1024, 60 / (med > 0 ? med : 0.01) }'
done
echo "(wall time on a shared machine: other work running at the same time slows it)"
