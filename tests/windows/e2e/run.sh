#!/usr/bin/env bash
# Runs veska.exe's end-to-end scenarios under Wine, one after another, in
# one Wine prefix booted here once and removed at the end (each scenario
# brings its own display, tray host, sound server and Wine server, and ends
# them). A scenario that fails says why in one line; the run goes on with the
# next and fails at the end.
#
# Usage: tests/windows/e2e/run.sh [BUILD_WINDOWS [BUILD_LINUX [SCENARIO...]]]
# (build-windows, build and every scenario by default).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
VESKA_SOURCE_DIR=$(cd "$here/../../.." && pwd)
win_build=$(cd "${1:-$VESKA_SOURCE_DIR/build-windows}" && pwd)
linux_build=$(cd "${2:-$VESKA_SOURCE_DIR/build}" && pwd)
shift $(($# < 2 ? $# : 2))
scenarios=("$@")
((${#scenarios[@]})) || scenarios=(load_pitch stereo_cores tray_menu hotkey first_start repair session resources ways_out dpi_dialog remote_host)
export VESKA_SOURCE_DIR VESKA_ANALYZE=$linux_build/tests/e2e/veska_analyze_audio
export VESKA_EXE=${VESKA_EXE:-$win_build/veska.exe}
export VESKA_PDH_STANDIN=$win_build/tests/windows/standin/pdh.dll
export VESKA_PERFMEND_STANDIN=$win_build/tests/windows/e2e/perfmend.exe
export VESKA_SHORTCUT_PROBE=$win_build/tests/windows/e2e/veska_shortcut_probe.exe
export VESKA_WINDOW_PROBE=$win_build/tests/windows/e2e/window_probe.exe
export VESKA_STANDINS=$linux_build/tests/e2e/veska_standin_exporters
# shellcheck source=lib.sh
source "$here/lib.sh"

win_init windows_e2e
for file in "$VESKA_PDH_STANDIN" "$VESKA_PERFMEND_STANDIN" "$VESKA_WINDOW_PROBE"; do
  [ -f "$file" ] || e2e_fail "no $file (build $win_build first)"
done

# The prefix is booted on a display of its own, which goes with its server.
start=$SECONDS
e2e_start_display
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$E2E_TMP/wineprefix
mkdir -p "$WINEPREFIX"
timeout 120 "$WINE" wineboot --init >"$E2E_TMP/logs/wineboot.log" 2>&1 ||
  e2e_fail "the Wine prefix did not boot"
win_stop_wine
e2e_stop_all
e2e_log "Wine prefix booted in $((SECONDS - start)) s"

failed=()
for scenario in "${scenarios[@]}"; do
  start=$SECONDS
  # A scenario's own limits fail it long before this one. It ends the Wine
  # processes it started by the prefix in their environment, so it gets the
  # prefix by another name, and nothing of this script carries it.
  env -u WINEPREFIX VESKA_WINE_PREFIX="$WINEPREFIX" timeout -k 10 180 \
    bash "$here/$scenario.sh" </dev/null &
  E2E_PIDS+=($!)
  if wait $!; then
    e2e_log "passed: $scenario in $((SECONDS - start)) s"
  else
    e2e_log "FAILED: $scenario after $((SECONDS - start)) s"
    failed+=("$scenario")
  fi
done
((${#failed[@]} == 0)) || e2e_fail "${#failed[@]} scenario(s) failed: ${failed[*]}"
e2e_log "all ${#scenarios[@]} scenarios passed"
