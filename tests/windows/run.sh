#!/usr/bin/env bash
# Runs the Windows build's tests under Wine, on a private display with a tray
# host and a private sound server with a null sink (tests/e2e/lib.sh), in a
# Wine prefix of its own that is booted once, kept served during the tests
# and ended after, also on failure.
#
# Usage: tests/windows/run.sh [BUILD_WINDOWS [BUILD_LINUX]]
# (build-windows and build by default). Prints the measured frequency, level
# and pan errors of the DirectSound device; non-zero on any failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
VESKA_SOURCE_DIR=$(cd "$here/../.." && pwd)
win_build=$(cd "${1:-$VESKA_SOURCE_DIR/build-windows}" && pwd)
linux_build=$(cd "${2:-$VESKA_SOURCE_DIR/build}" && pwd)
export VESKA_SOURCE_DIR VESKA_ANALYZE=$linux_build/tests/e2e/veska_analyze_audio
# shellcheck source=e2e/lib.sh
source "$here/e2e/lib.sh"

tests=$win_build/tests/windows
failures=()

e2e_init windows
e2e_require "$WINE" wineserver timeout
[ -x "$VESKA_ANALYZE" ] || e2e_fail "no analysis program at $VESKA_ANALYZE"
[ -x "$linux_build/tests/windows/veska_pcm_hash" ] ||
  e2e_fail "no Linux decoder reference in $linux_build"

trap win_cleanup EXIT
# A reader that goes away (| head) must not end this script before its
# cleanup.
trap '' PIPE

e2e_start_display
e2e_start_sound

export WINEPREFIX=$E2E_TMP/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The server outlives each program, so every start is quick; it is this
# run's own, since the prefix is.
mkdir -p "$WINEPREFIX"
win_spawn_server
start=$SECONDS
timeout 120 "$WINE" wineboot --init >"$E2E_TMP/logs/wineboot.log" 2>&1 ||
  e2e_fail "the Wine prefix did not boot"
e2e_log "Wine prefix booted in $((SECONDS - start)) s"

# wine_run LOGNAME SECONDS PROGRAM ARGS... : runs a Windows program, bounded
# in time, its output in the log and on the terminal.
# wine_run LOGNAME SECONDS WRAPPER... -- PROGRAM ARGS... : the same,
# started through a wrapper that ends by running its arguments.
wine_run() {
  local name=$1 limit=$2 wrapper=() i
  shift 2
  for ((i = 1; i <= $#; i++)); do [ "${!i}" = -- ] && break; done
  if ((i <= $#)); then
    wrapper=("${@:1:i-1}")
    shift "$i"
  fi
  timeout -k 5 "$limit" "${wrapper[@]}" "$WINE" "$@" 2>&1 | tr -d '\r' | tee "$E2E_TMP/logs/$name.log"
  return "${PIPESTATUS[0]}"
}

# check NAME CMD... : runs one group of tests, noting a failure and going on.
check() {
  local name=$1
  shift
  if "$@"; then
    e2e_log "passed: $name"
  else
    e2e_log "FAILED: $name"
    failures+=("$name")
  fi
}

# Linked statically: nothing to import beyond the system's own DLLs.
imports() {
  local program bad=0 dll
  for program in "$win_build"/veska.exe "$win_build"/perfmend.exe "$tests"/*.exe \
    "$tests"/standin/*.exe "$tests"/standin/pdh.dll; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$program" | awk '/DLL Name:/ { print $3 }'); do
      case ${dll,,} in
        kernel32.dll | user32.dll | advapi32.dll | msvcrt.dll | ntdll.dll) ;;
        gdi32.dll | shell32.dll | ole32.dll | winhttp.dll | ws2_32.dll) ;;
        *) echo "${program##*/} imports $dll"; bad=1 ;;
      esac
    done
  done
  return "$bad"
}
check "programs import only system DLLs" imports

# The Win32 shell's logic and dialogs, and perfmend's report.
win32_shell_tests() {
  VESKA_SOURCE_WINDOWS="Z:${VESKA_SOURCE_DIR//\//\\}" \
    wine_run win32-shell 60 "$tests/veska_win32_shell_tests.exe" --gtest_brief=1
}
check "Win32 shell" win32_shell_tests

# The zip as a user gets it: one folder, the programs, the image, the packs
# without their make script, a README, and never the stand-in pdh.dll.
zip_package() {
  local zip entries entry bad=0
  zip=$(find "$win_build" -maxdepth 1 -name 'VESKA-*-windows-x64.zip' | head -n 1)
  [ -n "$zip" ] || { echo "no zip in $win_build: run cpack -G ZIP there"; return 1; }
  entries=$(cd "$E2E_TMP" && cmake -E tar tf "$zip")
  for entry in veska.exe perfmend.exe VESKA.bmp README.txt packs/clockwork/prefs.ini \
    packs/glasshouse/cpu_a.flac packs/tidewater/cpu.ogg packs/hearthside/net.flac; do
    grep -qx "VESKA-[^/]*/$entry" <<<"$entries" || { echo "the zip lacks $entry"; bad=1; }
  done
  if grep -qiE 'pdh\.dll|\.sh$' <<<"$entries"; then
    echo "the zip holds what it must not: $(grep -iE 'pdh\.dll|\.sh$' <<<"$entries" | xargs)"
    bad=1
  fi
  return "$bad"
}
check "zip package" zip_package

host_cpus=$(getconf _NPROCESSORS_ONLN)
host_mem=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)

pdh_tests() {
  VESKA_PDH_UNDER_TEST=$1 VESKA_HOST_CPUS=$host_cpus VESKA_HOST_MEM_KIB=$host_mem \
    wine_run "pdh-$1" 60 "$2" --gtest_filter="$3" --gtest_brief=1
}
check "counters against Wine's PDH" pdh_tests wine "$tests/veska_pdh_tests.exe" 'WinePdh*'
check "counters against the stand-in PDH" pdh_tests standin "$tests/standin/veska_pdh_tests.exe" 'StandinPdh*'

# The battery as Wine's power status answers it from a power supply folder
# of the test's own: none, one running down, one full on the mains.
battery_tests() {
  local state bad=0
  e2e_fake_stat_available || { echo "skipped: no private mount namespaces here"; return 0; }
  for state in none "37 battery" "100 mains"; do
    # shellcheck disable=SC2086 # the state is the helper's arguments
    win_fake_power "$E2E_TMP/power" $state
    VESKA_PDH_UNDER_TEST=standin VESKA_EXPECT_BATTERY=$state \
      wine_run "battery-${state// /-}" 60 "${WIN_POWER_WRAPPER[@]}" -- \
      "$tests/standin/veska_pdh_tests.exe" --gtest_filter='PowerStatus.*' --gtest_brief=1 || bad=1
  done
  return "$bad"
}
check "battery against the power status" battery_tests

dsound_tests() {
  VESKA_DSOUND_SERVER=yes wine_run dsound 60 "$tests/veska_dsound_tests.exe" --gtest_brief=1
}
# No sound server at all: Wine's audio driver cannot connect.
dsound_no_server_tests() {
  VESKA_DSOUND_SERVER=no PULSE_SERVER="unix:$E2E_TMP/no-server" \
    wine_run dsound-no-server 60 "$tests/veska_dsound_tests.exe" --gtest_brief=1
}
# The remote binding's HTTP client, against a loopback server of its own.
winhttp_tests() {
  wine_run winhttp 60 "$tests/veska_winhttp_tests.exe" --gtest_brief=1
}
check "WinHTTP client" winhttp_tests
check "DirectSound device" dsound_tests
check "DirectSound without a sound server" dsound_no_server_tests

# The decoders: the bundled compressed packs decode to the same PCM as in
# the Linux build.
decoders() {
  local files=() windows_files=() f
  for f in "$VESKA_SOURCE_DIR"/packs/*/*.ogg "$VESKA_SOURCE_DIR"/packs/*/*.flac; do
    files+=("$f")
    windows_files+=("Z:${f//\//\\}")
  done
  ((${#files[@]} >= 2)) || { echo "no compressed packs found"; return 1; }
  "$linux_build/tests/windows/veska_pcm_hash" "${files[@]}" >"$E2E_TMP/pcm-linux.txt" ||
    { echo "the Linux build cannot decode the packs"; return 1; }
  wine_run pcm-windows 60 "$tests/veska_pcm_hash.exe" "${windows_files[@]}" >/dev/null ||
    { echo "the Windows build cannot decode the packs"; return 1; }
  if ! diff "$E2E_TMP/pcm-linux.txt" "$E2E_TMP/logs/pcm-windows.log"; then
    echo "the Windows decoders' PCM differs from Linux (above: < Linux, > Windows)"
    mkdir -p "$E2E_TMP/pcm/linux" "$E2E_TMP/pcm/windows"
    "$linux_build/tests/windows/veska_pcm_hash" --dump "$E2E_TMP/pcm/linux" "${files[@]}" >/dev/null
    wine_run pcm-dump 60 "$tests/veska_pcm_hash.exe" --dump "Z:${E2E_TMP//\//\\}\\pcm\\windows" \
      "${windows_files[@]}" >/dev/null
    for f in "$E2E_TMP"/pcm/linux/*.pcm; do
      cmp -l "$f" "$E2E_TMP/pcm/windows/${f##*/}" 2>/dev/null | wc -l |
        xargs printf '%s: %s bytes differ\n' "${f##*/}"
    done
    return 1
  fi
  echo "${#files[@]} files decode identically: $(awk '{ printf "%s ", $1 }' "$E2E_TMP/pcm-linux.txt")"
}
check "decoders match the Linux build" decoders

# tone NAME FREQUENCY VOLUME PAN : plays a 1 kHz tone recorded at 22050 Hz
# through the device, records the sink and sets m_pitch, m_rms_left and
# m_rms_right from its clean fifths of a second. A crowded machine makes the
# sound server drop moments of sound, which only ever lowers a segment's
# level; clean segments are the loudest and agree to 0.1 %. A drop too short
# to lower the level that much still breaks the wave and throws that
# segment's pitch off, so the pitch is the clean segments' median. Without
# two clean segments it records again, at most three times.
tone() {
  local name=$1 log=$E2E_TMP/logs/tone-$1.log file=$E2E_TMP/tone-$1.wav
  local stop=$E2E_TMP/stop-$name attempt clean
  timeout -k 2 60 "$WINE" "$tests/veska_dsound_tone.exe" 1000 "$2" "$3" "$4" 50 \
    "Z:${stop//\//\\}" >"$log" 2>&1 </dev/null &
  local pid=$!
  E2E_PIDS+=("$pid")
  e2e_wait_until 15 grep -q playing "$log" ||
    e2e_fail "tone $name did not play: $(tr -d '\r' <"$log")"
  e2e_wait_until 5 e2e_has_player || e2e_fail "tone $name never reached the sound server"
  # Past the start of playback and the change of settings (40-60 ms).
  sleep 0.3
  for attempt in 1 2 3; do
    e2e_record "$file" 3
    e2e_measure "$file" --min-hz 100
    # The channel that plays decides what is clean (the other may be silent).
    clean=$("$VESKA_ANALYZE" "$file" --segments 0.2 --min-hz 100 | sed '1d;$d' | awk '
      { for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        l[NR] = v["rms_left"]; r[NR] = v["rms_right"]; p[NR] = v["pitch"]
        s[NR] = l[NR] > r[NR] ? l[NR] : r[NR]; if (s[NR] > top) top = s[NR] }
      END { for (i = 1; i <= NR; i++) if (top > 0 && s[i] >= top * 0.999) {
              n++; sl += l[i]; sr += r[i]
              for (j = n; j > 1 && q[j - 1] > p[i]; j--) q[j] = q[j - 1]
              q[j] = p[i] }
            mid = n % 2 ? q[(n + 1) / 2] : (q[n / 2] + q[n / 2 + 1]) / 2
            if (n >= 2) printf "%d %.6f %.6f %.2f\n", n, sl / n, sr / n, mid }')
    [ -n "$clean" ] && break
    e2e_log "tone $name: sound dropped in every segment, recording again"
  done
  touch "$stop"
  wait "$pid" || e2e_fail "tone $name failed: $(tr -d '\r' <"$log")"
  [ -n "$clean" ] || e2e_fail "tone $name: no clean recording in three tries (machine too busy?)"
  read -r _ m_rms_left m_rms_right m_pitch <<<"$clean"
  e2e_log "tone $name: clean segments, rms left, rms right, pitch: $clean"
}
db() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", 20 * log(a / b) / log(10) }'; }
abs() { awk -v a="$1" 'BEGIN { printf "%.2f", a < 0 ? -a : a }'; }
worse() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }

sound_measurements() {
  local ref_l ref_r err worst_hz=0 worst_level=0 worst_pan=0 pair volume
  tone reference 22050 0 0
  ref_l=$m_rms_left ref_r=$m_rms_right
  err=$(awk -v p="$m_pitch" 'BEGIN { printf "%.2f", p - 1000 }')
  e2e_check "$(abs "$err") <= 0.2" "frequency 22050 Hz plays the tone at 1000 Hz: $m_pitch Hz"
  worst_hz=$(abs "$err")
  for pair in 44100:2000 11025:500 30000:1360.54; do
    tone "frequency-${pair%%:*}" "${pair%%:*}" 0 0
    err=$(awk -v p="$m_pitch" -v e="${pair#*:}" 'BEGIN { printf "%.2f", p - e }')
    e2e_check "$(abs "$err") <= 0.2" "frequency ${pair%%:*} Hz plays ${pair#*:} Hz: $m_pitch Hz"
    worst_hz=$(worse "$worst_hz" "$(abs "$err")")
  done
  for volume in -600 -2000; do
    tone "volume$volume" 22050 "$volume" 0
    err=$(awk -v d="$(db "$m_rms_left" "$ref_l")" -v v="$volume" 'BEGIN { printf "%.2f", d - v / 100 }')
    e2e_check "$(abs "$err") <= 0.2" "volume $volume: $(db "$m_rms_left" "$ref_l") dB"
    worst_level=$(worse "$worst_level" "$(abs "$err")")
  done
  tone pan-600 22050 0 -600
  err=$(awk -v d="$(db "$m_rms_right" "$ref_r")" 'BEGIN { printf "%.2f", d + 6 }')
  e2e_check "$(abs "$err") <= 0.2" "pan -600: right side $(db "$m_rms_right" "$ref_r") dB"
  worst_pan=$(abs "$err")
  err=$(db "$m_rms_left" "$ref_l")
  e2e_check "$(abs "$err") <= 0.2" "pan -600: left side stays ($err dB)"
  worst_pan=$(worse "$worst_pan" "$(abs "$err")")
  tone pan10000 22050 0 10000
  e2e_check "$m_rms_left < 0.0001 * $ref_l" "pan 10000: left side silent (rms $m_rms_left)"
  err=$(db "$m_rms_right" "$ref_r")
  e2e_check "$(abs "$err") <= 0.2" "pan 10000: right side stays ($err dB)"
  worst_pan=$(worse "$worst_pan" "$(abs "$err")")
  echo "DirectSound measured: frequency error <= $worst_hz Hz, level error <= $worst_level dB, pan error <= $worst_pan dB"
}
# e2e_check and e2e_fail end the whole run on a failed measurement, which
# still leaves through the cleanup.
sound_measurements

if ((${#failures[@]})); then
  e2e_fail "${#failures[@]} group(s) failed: ${failures[*]}"
fi
e2e_log "all Windows tests passed"
