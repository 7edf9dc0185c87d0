# Harness for running the built program as a user would, with no screen and
# no sound card: a private virtual display with a tray host, a private sound
# server whose only output is a null sink, recordings of that sink, and the
# end of every process started here, also on Ctrl+C.
#
# Nothing here may hang: each tool that talks to the display or the sound
# server is bounded in time (a time-out fails the test with one line naming
# the call), every wait has a deadline, and every process started in the
# background dies with the script, even when that is killed outright.
#
# Sourced by tests/e2e/*.sh and scripts/demo. Call e2e_init first.
#
# Environment: VESKA_BIN (the program), VESKA_ANALYZE (the analysis program),
# VESKA_SOURCE_DIR (the checkout); VESKA_E2E_KEEP=1 keeps the temporary
# folder for a look afterwards.

E2E_PIDS=()
E2E_TMP=""
E2E_NAME=e2e
E2E_SINK=veska_e2e
E2E_RATE=48000
E2E_T0=$SECONDS
E2E_TOOL_LIMIT=${E2E_TOOL_LIMIT:-20}
# A key the display repeats when its release comes late: on a busy machine
# xdotool or the server can stall past the usual 660 ms between a press and
# its release, and one typed key becomes two. Off unless a scenario holds
# keys on purpose (E2E_KEY_REPEAT=on before e2e_start_display, or
# "DELAY INTERVAL" in milliseconds for a repeat of the scenario's own).
E2E_KEY_REPEAT=${E2E_KEY_REPEAT:-off}
E2E_FAILED=""

# e2e_bounded SECONDS CMD... : runs CMD, killed (with what it started) when
# it outlives SECONDS; a time-out is logged and returns 124.
e2e_bounded() {
  local limit=$1 rc=0
  shift
  timeout -k 2 "$limit" "$@" || rc=$?
  if ((rc == 124 || rc == 137)); then
    e2e_log "\"$*\" did not end within $limit s; killed"
    rc=124
  fi
  return $rc
}

# The tools that talk to the display or the sound server block for as long
# as a stuck server lets them; these names bound them, in the scripts too.
xdotool() { e2e_bounded "$E2E_TOOL_LIMIT" xdotool "$@"; }
xwininfo() { e2e_bounded "$E2E_TOOL_LIMIT" xwininfo "$@"; }
pactl() { e2e_bounded "$E2E_TOOL_LIMIT" pactl "$@"; }

# A background process dies with this script, however that ends (an
# outright KILL runs no trap); without setpriv it ends at cleanup only.
E2E_DIE_WITH_US=()
if command -v setpriv >/dev/null 2>&1 && setpriv --pdeathsig KILL true 2>/dev/null; then
  E2E_DIE_WITH_US=(setpriv --pdeathsig KILL --)
fi

e2e_init() {
  E2E_NAME=$1
  E2E_SRC=${VESKA_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
  VESKA_BIN=${VESKA_BIN:-$E2E_SRC/build/veska}
  VESKA_ANALYZE=${VESKA_ANALYZE:-$E2E_SRC/build/tests/e2e/veska_analyze_audio}
  E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/veska-$E2E_NAME.XXXXXX")
  chmod 700 "$E2E_TMP"
  mkdir -p "$E2E_TMP/logs" "$E2E_TMP/runtime"
  chmod 700 "$E2E_TMP/runtime"
  # Everything started from here finds its per-user files in the temporary
  # folder, never in the caller's session.
  export XDG_RUNTIME_DIR=$E2E_TMP/runtime
  export HOME=$E2E_TMP/home
  export XDG_CONFIG_HOME=$HOME/.config
  mkdir -p "$XDG_CONFIG_HOME"
  unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
  # The program plays into the sound server below; naming an SDL driver
  # would send it through SDL instead.
  unset SDL_AUDIODRIVER
  trap e2e_cleanup EXIT
  trap 'e2e_log "interrupted"; exit 130' INT
  trap 'e2e_log "terminated"; exit 143' TERM HUP
  # A command that fails outside a check ends the script (set -e); say which.
  set -o errtrace
  trap 'e2e_note_error' ERR
  E2E_T0=$SECONDS
}

# Remembers the line of the scenario (the outermost call) whose command
# failed, for the one line e2e_cleanup prints.
e2e_note_error() {
  local n=${#BASH_LINENO[@]}
  ((n >= 2)) || return 0
  local file=${BASH_SOURCE[n - 1]} line=${BASH_LINENO[n - 2]}
  E2E_FAILED="${file##*/}:$line: $(sed -n "${line}{s/^ *//;p}" "$file" 2>/dev/null)"
}

e2e_log() { printf '[%s +%ss] %s\n' "$E2E_NAME" "$((SECONDS - E2E_T0))" "$*" >&2; }

e2e_skip() {
  echo "SKIP: $E2E_NAME: $*"
  exit 77
}

e2e_fail() {
  echo "FAIL: $E2E_NAME: $*"
  E2E_FAILED=reported
  exit 1
}

# e2e_require TOOL... : skip when the machine lacks one of them.
e2e_require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || e2e_skip "$tool is not installed"
  done
}

e2e_require_program() {
  [ -x "$VESKA_BIN" ] || e2e_fail "no program at $VESKA_BIN (build it first)"
  [ -x "$VESKA_ANALYZE" ] || e2e_fail "no analysis program at $VESKA_ANALYZE"
}

# e2e_spawn LOGNAME CMD... : starts CMD in the background, output to a log,
# and ends it at cleanup. Sets E2E_LAST_PID.
e2e_spawn() {
  local log=$E2E_TMP/logs/$1.log
  shift
  "${E2E_DIE_WITH_US[@]}" "$@" >"$log" 2>&1 </dev/null &
  E2E_LAST_PID=$!
  E2E_PIDS+=("$E2E_LAST_PID")
}

# A process of this script that has not ended. Only children count: once an
# ended child is reaped its pid may be reused by anyone, and must not be
# signalled.
e2e_alive() {
  local stat state ppid
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  read -r state ppid _ <<<"${stat##*) }"
  [ "$state" != Z ] && [ "$ppid" = "$$" ]
}

# Ends the processes in the reverse order of their start: each gets TERM,
# and KILL when it has not ended within two seconds.
e2e_stop_all() {
  local i pid waited
  for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${E2E_PIDS[i]}
    # A kill that misses (the process ended meanwhile) must not end the
    # cleanup under set -e, or what follows it is never undone.
    e2e_alive "$pid" && kill -TERM "$pid" 2>/dev/null || true
  done
  for ((waited = 0; waited < 20; waited++)); do
    local left=0
    for pid in "${E2E_PIDS[@]}"; do e2e_alive "$pid" && left=1; done
    ((left)) || break
    sleep 0.1
  done
  for pid in "${E2E_PIDS[@]}"; do
    e2e_alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
  done
  # Any other background job of this script (a recorder, a writer loop).
  for pid in $(jobs -p); do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null
  E2E_PIDS=()
}

e2e_cleanup() {
  local rc=$?
  trap - EXIT INT TERM HUP ERR
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ] && [ "$E2E_FAILED" != reported ]; then
    echo "FAIL: $E2E_NAME: ended with code $rc${E2E_FAILED:+ at $E2E_FAILED}"
  fi
  e2e_stop_all
  if declare -F e2e_on_cleanup >/dev/null; then e2e_on_cleanup || true; fi
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ] && [ -n "$E2E_TMP" ]; then
    local log
    for log in "$E2E_TMP"/logs/*.log; do
      [ -s "$log" ] || continue
      echo "---- ${log##*/} (last lines)"
      tail -n 15 "$log"
    done
  fi
  if [ -n "$E2E_TMP" ] && [ "${VESKA_E2E_KEEP:-0}" != 1 ]; then
    rm -rf "$E2E_TMP"
  elif [ -n "$E2E_TMP" ]; then
    echo "kept $E2E_TMP"
  fi
  exit "$rc"
}

# e2e_wait_until SECONDS CMD... : true as soon as CMD succeeds.
e2e_wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  while ! "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# e2e_expect_bytes WHAT EXPECTED FILE NAME : waits up to 10 s for FILE to
# hold exactly the bytes of EXPECTED; otherwise shows the ends of both and
# fails, calling FILE by NAME.
e2e_expect_bytes() {
  if e2e_wait_until 10 cmp -s "$2" "$3"; then
    e2e_log "ok: $1"
    return 0
  fi
  echo "expected:"
  od -c "$2" | tail -n 8
  echo "found:"
  od -c "$3" 2>&1 | tail -n 8 || true  # FILE may not exist
  e2e_fail "$1: $4 does not hold the expected bytes"
}

# A private X display on a free number, with a tray host.
e2e_start_display() {
  e2e_require Xvfb trayer xdotool xwininfo
  local fd_file=$E2E_TMP/display xvfb repeat=()
  : >"$fd_file"
  case $E2E_KEY_REPEAT in
    on) ;;
    off) repeat=(-ardelay 3600000) ;;
    *) repeat=(-ardelay "${E2E_KEY_REPEAT% *}" -arinterval "${E2E_KEY_REPEAT#* }") ;;
  esac
  # -displayfd lets the server pick a free number and tell it once it
  # accepts connections; -noreset keeps it from resetting (and dropping
  # connections on their way) whenever its last client leaves.
  "${E2E_DIE_WITH_US[@]}" Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset \
    "${repeat[@]}" 5>"$fd_file" >"$E2E_TMP/logs/xvfb.log" 2>&1 </dev/null &
  xvfb=$!
  E2E_PIDS+=("$xvfb")
  e2e_wait_until 30 eval '[ -n "$(tr -dc 0-9 <"'"$fd_file"'")" ] || ! kill -0 '"$xvfb" ||
    e2e_fail "Xvfb took no display within 30 s"
  [ -n "$(tr -dc '0-9' <"$fd_file")" ] ||
    e2e_fail "Xvfb ended before it took a display: $(tail -n 1 "$E2E_TMP/logs/xvfb.log")"
  export DISPLAY=:$(tr -dc '0-9' <"$fd_file")
  e2e_wait_until 10 xwininfo -root || e2e_fail "Xvfb display $DISPLAY does not answer"
  e2e_spawn trayer trayer --edge top --align right --widthtype request \
    --height 32 --SetDockType true --transparent false --tint 0x404040 \
    --expand true
  e2e_wait_until 20 xdotool search --name '^panel$' ||
    e2e_fail "the tray host did not come up"
  e2e_log "display $DISPLAY with a tray host"
}

# A private sound server whose default output is a null sink; its monitor
# is what the recordings hear.
e2e_start_sound() {
  e2e_require pulseaudio pactl parecord
  local dir=$E2E_TMP/pulse
  mkdir -p "$dir/state"
  chmod 700 "$dir"
  cat >"$dir/default.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/socket
load-module module-null-sink sink_name=$E2E_SINK rate=$E2E_RATE channels=2 format=s16le
set-default-sink $E2E_SINK
EOF
  # Clients never start a server of their own.
  printf 'autospawn = no\n' >"$dir/client.conf"
  export PULSE_CLIENTCONFIG=$dir/client.conf
  export PULSE_SERVER=unix:$dir/socket
  export PULSE_STATE_PATH=$dir/state PULSE_RUNTIME_PATH=$dir
  e2e_spawn pulseaudio env -u DISPLAY pulseaudio --daemonize=no --exit-idle-time=-1 -n \
    -F "$dir/default.pa" --use-pid-file=no --disallow-module-loading=no \
    --log-target=stderr
  E2E_PULSE_PID=$E2E_LAST_PID
  if ! e2e_wait_until 20 pactl info; then
    e2e_alive "$E2E_PULSE_PID" || e2e_skip "the sound server cannot run here (see its log)"
    e2e_fail "the sound server does not answer"
  fi
  e2e_log "sound server with null sink $E2E_SINK"
}

# True when some client plays into the sink.
e2e_has_player() { [ -n "$(pactl list short sink-inputs 2>/dev/null)" ]; }

# e2e_record_start FILE / e2e_record_stop : a recording of the sink.
e2e_record_start() {
  E2E_RECORD_FILE=$1
  "${E2E_DIE_WITH_US[@]}" parecord -d "$E2E_SINK.monitor" --file-format=wav --format=s16le \
    --rate=$E2E_RATE --channels=2 --latency-msec=100 "$1" \
    >"$E2E_TMP/logs/parecord.log" 2>&1 </dev/null &
  E2E_RECORD_PID=$!
  E2E_PIDS+=("$E2E_RECORD_PID")
  e2e_wait_until 10 test -s "$1" || e2e_fail "the recorder did not start"
}

# Ends the recorder the way that completes its file, or kills it when it
# does not end within five seconds.
e2e_record_stop() {
  kill -INT "$E2E_RECORD_PID" 2>/dev/null || true
  e2e_wait_until 5 eval '! kill -0 '"$E2E_RECORD_PID" ||
    kill -KILL "$E2E_RECORD_PID" 2>/dev/null || true
  wait "$E2E_RECORD_PID" 2>/dev/null || true
}

# e2e_record FILE SECONDS : records that much sound, then returns. The
# recorder's start can lag on a busy machine, so the length is counted in
# the file rather than on the clock.
e2e_record() {
  local bytes
  bytes=$(awk -v s="$2" -v r=$E2E_RATE 'BEGIN { printf "%d", 44 + s * r * 4 }')
  e2e_record_start "$1"
  sleep "$2"
  e2e_wait_until 10 eval '[ "$(stat -c %s "'"$1"'")" -ge '"$bytes"' ]' ||
    e2e_fail "the recorder fell behind"
  e2e_record_stop
}

# e2e_measure FILE [analysis options] : sets m_rms_left, m_rms_right, m_rms,
# m_pitch, m_duration from the analysis of the recording.
e2e_measure() {
  local out
  out=$(e2e_bounded 60 "$VESKA_ANALYZE" "$@") || e2e_fail "could not analyse $1"
  local pair key value
  for pair in $out; do
    key=${pair%%=*}
    value=${pair#*=}
    case $key in
      rms_left | rms_right | rms | pitch | duration) printf -v "m_$key" '%s' "$value" ;;
    esac
  done
  [ -n "${m_rms:-}" ] || e2e_fail "no measurement from $1"
  # A check of silence must never pass on a recording that holds nothing.
  awk "BEGIN { exit !($m_duration >= 0.4) }" ||
    e2e_fail "only $m_duration s of sound in $1"
  E2E_LAST_MEASURE=$out
}

# e2e_band LOW HIGH FILE : keeps only LOW to HIGH Hz of the recording FILE,
# so that one of several tones playing at once can be measured alone.
e2e_band() {
  sox "$3" "$3.band.wav" sinc -a 100 -t 40 "$1-$2" 2>>"$E2E_TMP/logs/sox.log" ||
    e2e_fail "sox could not filter $3"
  mv "$3.band.wav" "$3"
}

# e2e_await NAME SECONDS CONDITION : records short stretches until one
# meets CONDITION, an awk condition on rms, rms_left, rms_right and pitch
# (e.g. "pitch > 435 && pitch < 445"), so that a check can follow once the
# sound has changed however long the machine takes; fails after SECONDS
# with the last measurement. Sets the m_* values of the last stretch. With
# E2E_AWAIT_BAND="LOW HIGH" each stretch is measured in that band only.
e2e_await() {
  local name=$1 limit=$2 condition=$3 deadline=$((SECONDS + $2)) n=0 file
  while :; do
    file=$E2E_TMP/$name.await$n.wav
    n=$((n + 1))
    e2e_record "$file" 0.8
    [ -z "${E2E_AWAIT_BAND:-}" ] || e2e_band ${E2E_AWAIT_BAND} "$file"
    e2e_measure "$file" --from 0.2
    rm -f "$file"
    if awk -v rms="$m_rms" -v rms_left="$m_rms_left" -v rms_right="$m_rms_right" \
      -v pitch="$m_pitch" "BEGIN { exit !($condition) }"; then
      e2e_log "$name: $condition after $n stretch(es)"
      return 0
    fi
    ((SECONDS < deadline)) ||
      e2e_fail "$name: not $condition within $limit s; last $E2E_LAST_MEASURE"
  done
}

# e2e_check "AWK-CONDITION" MESSAGE : fails the test unless the condition
# (numbers substituted by the caller) holds.
e2e_check() {
  if awk "BEGIN { exit !($1) }"; then
    e2e_log "ok: $2"
  else
    e2e_fail "$2 [$1]"
  fi
}

# e2e_make_tone_pack DIR FREQ [KEY=VALUE...] : a soundpack whose only sound
# is a pure tone at 22050 Hz, so that a playback frequency of 22050 Hz plays
# the tone at its own pitch. Keys go into its prefs.ini.
e2e_make_tone_pack() {
  local dir=$1 freq=$2
  shift 2
  mkdir -p "$dir"
  sox -n -r 22050 -c 1 -b 16 "$dir/cpu.wav" synth 2 sine "$freq" vol 0.5 ||
    e2e_fail "sox could not make the test tone"
  {
    printf '[soundpack]\r\n'
    local kv
    for kv in "$@"; do printf '%s\r\n' "${kv/=/ = }"; done
  } >"$dir/prefs.ini"
}

# e2e_settings_bytes PATH VOLUME PLAYRAM PLAYCPU PLAYDISK REFRESH MODE MODS KEY
# prints settings.ini as the program writes it.
e2e_settings_bytes() {
  printf '\xEF\xBB\xBF\r\n[Settings]\r\n'
  printf 'Path = %s\r\nVolume = %s\r\nPlayRAM = %s\r\nPlayCPU = %s\r\n' "$1" "$2" "$3" "$4"
  printf 'PlayDisk = %s\r\nRefreshTime = %s\r\nKeyboardMode = %s\r\n' "$5" "$6" "$7"
  printf 'KeyboardModifiers = %s\r\nKeyboardKey = %s\r\n' "$8" "$9"
}

# e2e_workdir DIR : a working folder with the tray image.
e2e_workdir() {
  mkdir -p "$1/packs"
  if [ -f "$E2E_SRC/VESKA.bmp" ]; then
    cp "$E2E_SRC/VESKA.bmp" "$1/"
  else
    # Any bitmap makes an icon: a blue 16 x 16 square, 24 bits per pixel.
    {
      printf 'BM\x36\x03\0\0\0\0\0\0\x36\0\0\0'
      printf '\x28\0\0\0\x10\0\0\0\x10\0\0\0\x01\0\x18\0\0\0\0\0\0\x03\0\0'
      printf '\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0'
      local i
      for ((i = 0; i < 256; i++)); do printf '\xc0\x70\x30'; done
    } >"$1/VESKA.bmp"
  fi
}

# e2e_start_veska DIR [WRAPPER...] : starts the program in DIR, optionally
# through a wrapper command (the program's path is appended to it).
e2e_start_veska() {
  local dir=$1
  shift
  (cd "$dir" && exec "${E2E_DIE_WITH_US[@]}" "$@" "$VESKA_BIN") >"$E2E_TMP/logs/veska.log" 2>&1 </dev/null &
  VESKA_PID=$!
  E2E_PIDS+=("$VESKA_PID")
  e2e_log "started the program (pid $VESKA_PID) in $dir"
}

# e2e_wait_exit SECONDS : waits for the program to end; sets VESKA_RC.
e2e_wait_exit() {
  e2e_wait_until "$1" eval '! kill -0 '"$VESKA_PID" ||
    e2e_fail "the program did not end within $1 s"
  VESKA_RC=0
  wait "$VESKA_PID" || VESKA_RC=$?
}

# e2e_program_windows : how many windows of the program are visible (its
# tray icon, a menu, a box).
e2e_program_windows() {
  xdotool search --onlyvisible --pid "$VESKA_PID" 2>/dev/null | wc -l
}

# e2e_wait_windows COUNT SECONDS : true once exactly COUNT are visible.
e2e_wait_windows() {
  e2e_wait_until "$2" eval '[ "$(e2e_program_windows)" -eq '"$1"' ]'
}

# e2e_wait_window TITLE SECONDS : prints the id of a visible window with
# exactly that title.
e2e_find_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}
e2e_wait_window() {
  local id deadline=$((SECONDS + $2))
  while :; do
    id=$(e2e_find_window "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    ((SECONDS < deadline)) || return 1
    e2e_alive "$VESKA_PID" || return 1
    sleep 0.2
  done
}

# Gives a window the keyboard (there is no window manager to do it).
e2e_focus() {
  timeout 3 xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
}

# e2e_tray_icon : prints "X Y", the centre of the program's icon in the tray
# host, once it is embedded.
e2e_tray_icon_at() {
  local panel
  panel=$(xdotool search --name '^panel$' | head -n 1) || return 1
  # The embedded icon is the largest mapped window below the panel other
  # than the panel's own frame; tiny helper windows are skipped.
  xwininfo -tree -id "$panel" 2>/dev/null | awk '
    / +0x[0-9a-f]+ / {
      if (match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+)/)) {
        split(substr($0, RSTART, RLENGTH), p, /[x+ ]+/)
        w = p[1]; h = p[2]; ax = p[5]; ay = p[6]
        if (w >= 8 && h >= 8 && w <= 64 && ax >= 0 && ay >= 0) {
          print int(ax + w / 2), int(ay + h / 2); exit
        }
      }
    }'
}
# The tray host lays itself out after the icon comes, and may show it off
# the screen meanwhile: only a place on the screen, the same twice running,
# is where a click will find it.
e2e_wait_tray_icon() {
  local at last="" size width height deadline=$((SECONDS + $1))
  size=$(xwininfo -root | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w, h }')
  read -r width height <<<"$size"
  while :; do
    at=$(e2e_tray_icon_at)
    if [ -n "$at" ] && [ "$at" = "$last" ] &&
      awk -v w="$width" -v h="$height" -v at="$at" \
        'BEGIN { split(at, p, " "); exit !(p[1] < w && p[2] < h) }'; then
      echo "$at"
      return 0
    fi
    last=$at
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

# e2e_busy CORE... : one busy loop pinned to each core; e2e_idle ends them.
E2E_BUSY=()
e2e_busy() {
  local core
  for core in "$@"; do
    "${E2E_DIE_WITH_US[@]}" taskset -c "$core" bash -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    E2E_BUSY+=($!)
    E2E_PIDS+=($!)
  done
}
e2e_idle() {
  local pid tries
  for pid in "${E2E_BUSY[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for ((tries = 0; tries < 10; tries++)); do
    local left=0
    for pid in "${E2E_BUSY[@]}"; do e2e_alive "$pid" && left=1; done
    ((left)) || break
    sleep 0.1
  done
  for pid in "${E2E_BUSY[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${E2E_BUSY[@]}"; do wait "$pid" 2>/dev/null || true; done
  E2E_BUSY=()
}

e2e_cores() { nproc 2>/dev/null || getconf _NPROCESSORS_ONLN; }

# e2e_cpu_stat : prints "busy total" jiffies of each core, one line per core.
e2e_cpu_stat() {
  awk '/^cpu[0-9]+ / { busy = $2 + $3 + $4 + $7 + $8 + $9;
                      print busy, busy + $5 + $6 }' /proc/stat
}

# e2e_cpu_load BEFORE AFTER : per-core load in percent between two
# e2e_cpu_stat snapshots, space-separated, then their mean on the last field.
e2e_cpu_load() {
  paste -d' ' <(echo "$1") <(echo "$2") | awk '
    { d = $4 - $2; l = d > 0 ? 100 * ($3 - $1) / d : 0; sum += l; n++
      printf "%.1f ", l }
    END { printf "%.1f\n", n ? sum / n : 0 }'
}

# e2e_pitch_at TONE LEVEL : the pitch a tone recorded at 22050 Hz has when a
# pitch-mode level plays it at level * 500 + 22050 Hz.
e2e_pitch_at() { awk -v f="$1" -v l="$2" 'BEGIN { printf "%.2f", f * (l * 500 + 22050) / 22050 }'; }

# e2e_mean_load BEFORE AFTER : the mean load in whole percent.
e2e_mean_load() { e2e_cpu_load "$1" "$2" | awk '{ printf "%d", $NF + 0.5 }'; }

# e2e_core_load BEFORE AFTER CORE : one core's load in whole percent.
e2e_core_load() { e2e_cpu_load "$1" "$2" | awk -v c="$3" '{ printf "%d", $(c + 1) + 0.5 }'; }

# A load the test decides: the program reads a /proc/stat of ours, bind
# mounted in a private mount namespace, whose processor lines advance as
# if each core were as busy as the test says.
#
# e2e_fake_stat_start : starts the writer; E2E_STAT_WRAPPER is the wrapper
# for e2e_start_veska. e2e_fake_load P0 [P1...] : per-core load in percent,
# the last one repeated for the remaining cores.
e2e_fake_stat_available() { unshare -m true 2>/dev/null; }
e2e_fake_stat_start() {
  local dir=$E2E_TMP/fakestat
  mkdir -p "$dir"
  E2E_STAT_FILE=$dir/stat
  E2E_LOAD_FILE=$dir/load
  echo 0 >"$E2E_LOAD_FILE"
  grep -v '^cpu' /proc/stat >"$dir/rest"
  e2e_write_fake_stat "$(e2e_cores)" "$dir" </dev/null >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  # Two reads of one unchanged file would be no time at all, which the
  # program takes for no load: the writer must never fall behind.
  renice -n -10 -p $! >/dev/null 2>&1 || true
  e2e_wait_until 5 test -s "$E2E_STAT_FILE" || e2e_fail "the load writer did not start"
  E2E_STAT_WRAPPER=(unshare -m sh -c 'mount --bind "$0" /proc/stat && exec "$1"' "$E2E_STAT_FILE")
}
e2e_fake_load() {
  echo "$*" >"$E2E_LOAD_FILE.new"
  mv "$E2E_LOAD_FILE.new" "$E2E_LOAD_FILE"
}
e2e_write_fake_stat() {
  local cores=$1 dir=$2 busy=() idle=() i p loads text rest tick
  for ((i = 0; i < cores; i++)); do busy[i]=1000; idle[i]=1000; done
  rest=$(<"$dir/rest")
  # A pause without a process of its own: a read that times out.
  mkfifo "$dir/tick"
  exec {tick}<>"$dir/tick"
  while kill -0 "$$" 2>/dev/null; do  # ends with the script
    read -r -a loads <"$dir/load" || loads=(0)
    local all_busy=0 all_idle=0 lines=""
    for ((i = 0; i < cores; i++)); do
      p=${loads[i]:-${loads[${#loads[@]} - 1]}}
      busy[i]=$((busy[i] + p))
      idle[i]=$((idle[i] + 100 - p))
      all_busy=$((all_busy + busy[i]))
      all_idle=$((all_idle + idle[i]))
      lines+="cpu$i ${busy[i]} 0 0 ${idle[i]} 0 0 0 0 0 0"$'\n'
    done
    text="cpu  $all_busy 0 0 $all_idle 0 0 0 0 0 0"$'\n'"$lines$rest"$'\n'
    # One write, in place: the bind mount holds this very file. Each write
    # is one step of the decided loads, so any two reads that differ give
    # exactly those; many a second keep every read apart from the last.
    printf '%s' "$text" 1<>"$dir/stat"
    read -r -t 0.02 -u "$tick" _ || true
  done
}

# e2e_stop_veska : ends the program from outside, the way a session ending
# would: TERM first, KILL when it does not end within two seconds.
e2e_stop_veska() {
  kill -TERM "$VESKA_PID" 2>/dev/null || true
  e2e_wait_until 2 eval '! kill -0 '"$VESKA_PID" || kill -KILL "$VESKA_PID" 2>/dev/null || true
  wait "$VESKA_PID" 2>/dev/null || true
}

# ---- Faults: the sound server and the tray host going away and coming back.

# e2e_stop_sound SIGNAL : ends the sound server started here with SIGNAL and
# waits until it is gone.
e2e_stop_sound() {
  kill -"$1" "$E2E_PULSE_PID" 2>/dev/null || true
  e2e_wait_until 5 eval '! kill -0 '"$E2E_PULSE_PID" ||
    e2e_fail "the sound server outlived SIG$1"
  wait "$E2E_PULSE_PID" 2>/dev/null || true
}

# e2e_start_sound_again [held] : a new sound server with the same null sink,
# as after a restart. The test's own tools (pactl, parecord) reach it at once
# on a socket of their own; the socket the program knows opens at once too,
# or, with "held", only at e2e_open_program_socket, so that a recording can
# run before the program can find the server.
E2E_PULSE_STARTS=1
e2e_start_sound_again() {
  local dir=$E2E_TMP/pulse
  E2E_PULSE_STARTS=$((E2E_PULSE_STARTS + 1))
  cat >"$dir/again.pa" <<EOF
load-module module-null-sink sink_name=$E2E_SINK rate=$E2E_RATE channels=2 format=s16le
set-default-sink $E2E_SINK
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/tools
EOF
  export PULSE_SERVER=unix:$dir/tools
  e2e_spawn "pulseaudio.$E2E_PULSE_STARTS" env -u DISPLAY pulseaudio \
    --daemonize=no --exit-idle-time=-1 -n -F "$dir/again.pa" \
    --use-pid-file=no --disallow-module-loading=no --log-target=stderr
  E2E_PULSE_PID=$E2E_LAST_PID
  e2e_wait_until 10 pactl info || e2e_fail "the sound server did not start again"
  [ "${1:-}" = held ] || e2e_open_program_socket
}

e2e_open_program_socket() {
  pactl load-module module-native-protocol-unix auth-anonymous=1 \
    "socket=$E2E_TMP/pulse/socket" >/dev/null ||
    e2e_fail "the sound server did not open the program's socket"
}

# e2e_tray_host_pid : the tray host started by e2e_start_display.
e2e_tray_host_pid() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = trayer ] && { echo "$pid"; return 0; }
  done
  return 1
}

# e2e_restart_tray_host SIGNAL : ends the tray host with SIGNAL, waits until
# its panel is gone, and starts it again as e2e_start_display did.
e2e_restart_tray_host() {
  local pid
  pid=$(e2e_tray_host_pid) || e2e_fail "no tray host to end"
  kill -"$1" "$pid" 2>/dev/null || true
  e2e_wait_until 5 eval '! kill -0 '"$pid" || e2e_fail "the tray host outlived SIG$1"
  wait "$pid" 2>/dev/null || true
  e2e_wait_until 5 eval '[ -z "$(xdotool search --name "^panel\$" 2>/dev/null)" ]' ||
    e2e_fail "the tray host's panel stayed after it ended"
  e2e_spawn trayer.again trayer --edge top --align right --widthtype request \
    --height 32 --SetDockType true --transparent false --tint 0x404040 \
    --expand true
  e2e_wait_until 10 xdotool search --name '^panel$' ||
    e2e_fail "the tray host did not come up again"
}

# e2e_count_lines FILE TEXT : how many lines of FILE hold TEXT.
e2e_count_lines() { grep -cF -- "$2" "$1" 2>/dev/null || true; }

# ---- The disk chain: writes the test makes, heard in a pack's disk sound.

# e2e_disk_busy_sample : prints "milliseconds-busy milliseconds-now", summed
# over the whole disks in /proc/diskstats.
e2e_disk_busy_sample() {
  awk -v now="$(date +%s%3N)" '
    $3 ~ /^(sd[a-z]+|vd[a-z]+|xvd[a-z]+|hd[a-z]+|nvme[0-9]+n[0-9]+|mmcblk[0-9]+)$/ {
      busy += $13; n++ }
    END { printf "%.0f %.0f %d\n", busy, now, n }' /proc/diskstats
}

# e2e_disk_busy BEFORE AFTER : the whole disks' mean busy share in whole
# percent between two samples.
e2e_disk_busy() {
  awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, " "); split(b, y, " ")
    ms = y[2] - x[2]; n = y[3] > 0 ? y[3] : 1
    p = ms > 0 ? 100 * (y[1] - x[1]) / n / ms : 0
    printf "%d", (p > 100 ? 100 : p) + 0.5 }'
}

# e2e_disk_writes_visible DIR : true when writes to a file in DIR past the
# page cache show in /proc/diskstats (not so on tmpfs, say). Sets
# E2E_DD_FLAGS to the dd flags that got there.
e2e_disk_writes_visible() {
  local dir=$1 before after
  case $(stat -f -c %T "$dir" 2>/dev/null) in tmpfs | ramfs | "") return 1 ;; esac
  before=$(awk '{ s += $10 } END { print s + 0 }' /proc/diskstats)
  E2E_DD_FLAGS=oflag=direct
  timeout 20 dd if=/dev/zero of="$dir/probe.bin" bs=1M count=4 $E2E_DD_FLAGS status=none 2>/dev/null || {
    E2E_DD_FLAGS=conv=fsync
    timeout 20 dd if=/dev/zero of="$dir/probe.bin" bs=1M count=4 $E2E_DD_FLAGS status=none 2>/dev/null
  } || { rm -f "$dir/probe.bin"; return 1; }
  rm -f "$dir/probe.bin"
  after=$(awk '{ s += $10 } END { print s + 0 }' /proc/diskstats)
  # 4 MiB is 8192 sectors of 512 bytes.
  ((after - before >= 8192))
}

# e2e_disk_writer_start DIR / e2e_disk_writer_stop : two writers, so that
# one is always in flight, each writing 32 MiB at a time past the page cache
# into a file in DIR until stopped (for a minute at most, should they be
# left behind).
e2e_disk_writer_start() {
  local dir=$1
  (
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -f "$dir"/writes?.bin; exit 0' TERM INT
    end=$((SECONDS + 60))
    while ((SECONDS < end)); do
      pids=()
      for n in 0 1; do
        dd if=/dev/zero of="$dir/writes$n.bin" bs=1M count=32 $E2E_DD_FLAGS status=none 2>/dev/null &
        pids+=($!)
      done
      # A write that fails at once must not make a busy loop of this.
      wait "${pids[@]}" || sleep 0.2
    done
    rm -f "$dir"/writes?.bin
  ) </dev/null >/dev/null 2>&1 &
  E2E_WRITER_PID=$!
  E2E_PIDS+=("$E2E_WRITER_PID")
}
e2e_disk_writer_stop() {
  kill -TERM "$E2E_WRITER_PID" 2>/dev/null || true
  wait "$E2E_WRITER_PID" 2>/dev/null || true
}

# e2e_open_tray_menu X Y : clicks the tray icon at X,Y and returns once the
# pop-up menu shows (a new visible window), with the pointer moved off it
# so that only the keyboard picks an item.
e2e_open_tray_menu() {
  local before now deadline=$((SECONDS + 5))
  before=$(xdotool search --onlyvisible --name '' 2>/dev/null | sort)
  xdotool mousemove --sync "$1" "$2" click 1
  while :; do
    now=$(xdotool search --onlyvisible --name '' 2>/dev/null | sort)
    [ -n "$(comm -13 <(echo "$before") <(echo "$now"))" ] && break
    ((SECONDS < deadline)) || e2e_fail "a click on the tray icon opened no menu within 5 s"
    sleep 0.1
  done
  sleep 0.2
  xdotool mousemove --sync 5 795
  sleep 0.2
}

# ---- A file a step must leave alone, and the streams that play.

# e2e_freeze FILE : notes FILE's bytes and gives it a time long past, so that
# e2e_expect_untouched sees a write even of the same bytes.
e2e_freeze() {
  cp "$1" "$E2E_TMP/frozen.${1//\//_}"
  touch -d '2020-01-01 00:00' "$1"
}
# e2e_expect_untouched WHAT FILE : fails unless FILE is as e2e_freeze left it.
e2e_expect_untouched() {
  cmp -s "$E2E_TMP/frozen.${2//\//_}" "$2" || e2e_fail "$1 changed ${2##*/}"
  [ "$(stat -c %Y "$2")" = "$(date -d '2020-01-01 00:00' +%s)" ] ||
    e2e_fail "$1 wrote ${2##*/} (its time changed)"
}

# e2e_players : how many streams play into the sink.
e2e_players() { pactl list short sink-inputs 2>/dev/null | wc -l; }

# e2e_expect_second_start_gone FIRST-PID SETTINGS : the refused second start
# (VESKA_PID) ends with code 0 within 15 s, leaving the first program and
# its one stream, and SETTINGS as e2e_freeze left it.
e2e_expect_second_start_gone() {
  e2e_wait_exit 15
  ((VESKA_RC == 0)) || e2e_fail "the second start ended with code $VESKA_RC"
  e2e_log "ok: the second start said so and ended with code 0"
  (($(e2e_players) == 1)) || e2e_fail "$(e2e_players) sounds play after the second start"
  e2e_alive "$1" || e2e_fail "the first program ended too"
  e2e_expect_untouched "the second start" "$2"
  VESKA_PID=$1
}

# e2e_held_press NAME KEYS SECONDS FROM TO : holds KEYS for SECONDS, heard
# from 0.6 s before the press to 1.5 s after the release: the sound goes
# from FROM (loud or quiet) to TO once, within a second of the press, and
# stays. A change on each of the keyboard's repeats would flicker or land
# late. The new state counts from its first three tenths of a second; a
# sound server may drop a moment, so two odd tenths are let pass, never two
# running of the old state.
e2e_held_press() {
  local file=$E2E_TMP/$1.wav trace from=${4:0:1} to=${5:0:1}
  e2e_record_start "$file"
  sleep 0.6
  xdotool keydown "$2"
  sleep "$3"
  xdotool keyup "$2"
  sleep 1.5
  e2e_record_stop
  trace=$(e2e_bounded 60 "$VESKA_ANALYZE" "$file" --segments 0.1 | sed '$d' |
    awk -v loud="${E2E_LOUD:-0.02}" -v quiet="${E2E_QUIET:-0.002}" '
    { for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "rms") r = kv[2] }
      printf "%s", (r > loud ? "L" : r < quiet ? "Q" : "m") }')
  from=${from^^} to=${to^^}
  local before=${trace%%"$to$to$to"*}
  local after=${trace:${#before}} was odd back=0
  was=$(tr -cd "$from" <<<"$before" | wc -c)
  odd=$(tr -d "$to" <<<"$after" | tr -d '\n' | wc -c)
  [[ $after == *"$from$from"* ]] && back=1
  e2e_check "${#after} >= 8 && $was >= 3 && ${#before} <= 16 && $odd <= 2 && $back == 0" \
    "$1: one change from $4 to $5 (tenths: $trace)"
}
