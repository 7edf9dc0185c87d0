#!/usr/bin/env bash
# The delay between a change of a sound's volume and its arrival at the
# sound server's output, through the output the program uses, on the
# private sound server of the end-to-end tests (bench/sound/output_latency
# holds the measurement).
#
# Usage: bench/output_latency.sh   Environment: VESKA_BUILD (default build).
set -eu
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib.sh"
e2e_init output_latency
probe=$(realpath "${VESKA_BUILD:-$E2E_SRC/build}")/bench/sound/output_latency
[ -x "$probe" ] || e2e_fail "no $probe (build the target output_latency first)"
e2e_start_sound
# The recorder ends on a broken pipe once the probe is done.
parec -d "$E2E_SINK.monitor" --raw --format=s16le --rate=48000 --channels=1 \
  --latency-msec=2 2>"$E2E_TMP/logs/parec.log" | "$probe" || e2e_fail "no measurement"
