# The Windows program under Wine, run as a user would: on top of the Linux
# harness (tests/e2e/lib.sh: private display with a tray host, private sound
# server with a null sink, recordings, bounded tools), a Wine prefix and
# server of this run's own, and the program copied into a working folder
# with its image and packs, as an unzipped package is run.
#
# Sourced by tests/windows/e2e/*.sh, which call win_init NAME first, and by
# the unit tests' runner (tests/windows/run.sh).
#
# Environment: VESKA_EXE (the built veska.exe), VESKA_PDH_STANDIN (the
# stand-in pdh.dll), VESKA_ANALYZE, VESKA_SOURCE_DIR; VESKA_WINE_PREFIX, a
# booted prefix to use (tests/windows/e2e/run.sh boots one for all the
# scenarios), else each scenario boots one of its own.

# shellcheck source=../../e2e/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../e2e/lib.sh"

WINE=/usr/lib/wine/wine64

win_init() {
  e2e_init "$1"
  e2e_require "$WINE" wineserver timeout
  VESKA_EXE=${VESKA_EXE:-$E2E_SRC/build-windows/veska.exe}
  VESKA_PDH_STANDIN=${VESKA_PDH_STANDIN:-$E2E_SRC/build-windows/tests/windows/standin/pdh.dll}
  [ -f "$VESKA_EXE" ] || e2e_fail "no program at $VESKA_EXE (build it first)"
  [ -x "$VESKA_ANALYZE" ] || e2e_fail "no analysis program at $VESKA_ANALYZE"
  trap win_cleanup EXIT
  # A reader that goes away must not end the script before its cleanup.
  trap '' PIPE
}

# Every Windows process of the prefix ends with its server, before the
# display and the sound server do. Wine's service processes can outlive a
# server that is merely killed, so any left of this prefix are ended by id.
win_stop_wine() {
  local pid
  [ -n "${WINEPREFIX:-}" ] || return 0
  timeout -k 2 10 wineserver -k >/dev/null 2>&1 || true
  for pid in $(pgrep -u "$(id -u)" . 2>/dev/null); do
    ((pid == $$)) && continue
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" |
      grep -qxF "WINEPREFIX=$WINEPREFIX" && kill -KILL "$pid" 2>/dev/null
  done
  return 0
}
# The server's folder of a prefix of this run's own, which Wine leaves
# behind under the temporary folder: its name is in the prefix.
win_remove_server_dir() {
  local name
  [[ -n ${E2E_TMP:-} && ${WINEPREFIX:-} == "$E2E_TMP"/* ]] || return 0
  name=$(cat "$WINEPREFIX/wineserver" 2>/dev/null) || return 0
  [[ $name == wine-?????? ]] && rm -rf "${TMPDIR:-/tmp}/$name"
  return 0
}
win_cleanup() {
  local rc=$?
  # Nothing here may end the cleanup early, and the code must reach it.
  set +e
  trap - ERR
  win_stop_wine
  win_remove_server_dir
  (exit "$rc")
  e2e_cleanup
}

# win_spawn_server : the prefix's Wine server, kept up between programs.
# Returns once it takes connections. On a new prefix the server and the
# first program each pick a folder for the server's socket and write its
# name into the prefix, the later overwriting the earlier; a program started
# early may so look in a folder no server serves and fail to start.
win_spawn_server() {
  local dev ino folder name i
  e2e_spawn wineserver wineserver -f -p
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  for ((i = 0; i < 200; i++)); do
    if [ -d "/run/user/$(id -u)" ]; then
      folder=/run/user/$(id -u)/wine
    elif name=$(cat "$WINEPREFIX/wineserver" 2>/dev/null) && [ -n "$name" ]; then
      folder=${TMPDIR:-/tmp}/$name
    else
      folder=
    fi
    [ -n "$folder" ] && [ -S "$(printf '%s/server-%x-%x/socket' "$folder" "$dev" "$ino")" ] &&
      return 0
    e2e_alive "$E2E_LAST_PID" ||
      e2e_fail "the Wine server ended as it started (logs/wineserver.log)"
    sleep 0.05
  done
  e2e_fail "the Wine server took no connections within 10 s"
}

# win_start : the display, the sound server and a Wine server for the
# prefix, kept up between programs so that each starts quickly.
win_start() {
  e2e_start_display
  e2e_start_sound
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -n "${VESKA_WINE_PREFIX:-}" ]; then
    export WINEPREFIX=$VESKA_WINE_PREFIX
  else
    export WINEPREFIX=$E2E_TMP/wineprefix
    mkdir -p "$WINEPREFIX"
  fi
  # A server of an earlier scenario on the shared prefix knows another
  # display: it must be gone before this one starts, or this one finds it
  # and leaves, and the next program starts a server that ends on its own.
  timeout -k 2 10 wineserver -k >/dev/null 2>&1 || true
  timeout -k 2 10 wineserver -w >/dev/null 2>&1 || true
  win_spawn_server
  if [ -z "${VESKA_WINE_PREFIX:-}" ]; then
    timeout 120 "$WINE" wineboot --init >"$E2E_TMP/logs/wineboot.log" 2>&1 ||
      e2e_fail "the Wine prefix did not boot"
  fi
  e2e_log "Wine server up for $WINEPREFIX"
}

# win_path UNIX-PATH : the same path as the program sees it (drive Z:).
win_path() { printf 'Z:%s' "${1//\//\\}"; }

# win_workdir DIR [standin] : a working folder as the unzipped package makes
# it: the program, its image and a packs folder; with "standin" the stand-in
# pdh.dll beside the program, which Wine then loads instead of its own.
win_workdir() {
  e2e_workdir "$1"
  cp "$VESKA_EXE" "$1/veska.exe"
  if [ "${2:-}" = standin ]; then
    cp "$VESKA_PDH_STANDIN" "$1/pdh.dll"
  fi
}

# win_settings UNIX-PACK-DIR VOLUME PLAYRAM PLAYCPU PLAYDISK REFRESH MODE
# MODS KEY : settings.ini bytes as the program writes them, the pack's path
# in its Windows form with a closing backslash.
win_settings() {
  local pack
  pack="$(win_path "${1%/}")\\"
  shift
  e2e_settings_bytes "$pack" "$@"
}

# win_start_veska DIR [WRAPPER...] : starts DIR/veska.exe in DIR under Wine,
# optionally through a wrapper as e2e_start_veska does. VESKA_PID is the
# Windows process itself (Wine keeps the id it was started with).
win_start_veska() {
  local dir=$1
  shift
  printf '#!/bin/sh\nexec "%s" "$PWD/veska.exe"\n' "$WINE" >"$E2E_TMP/veska-under-wine"
  chmod +x "$E2E_TMP/veska-under-wine"
  VESKA_BIN=$E2E_TMP/veska-under-wine
  e2e_start_veska "$dir" "$@"
}

# win_start_veska_from DIR PROGRAM-DIR : starts PROGRAM-DIR/veska.exe in
# DIR, as a shortcut or a command line elsewhere would.
win_start_veska_from() {
  printf '#!/bin/sh\nexec "%s" "%s/veska.exe"\n' "$WINE" "$2" >"$E2E_TMP/veska-from"
  chmod +x "$E2E_TMP/veska-from"
  VESKA_BIN=$E2E_TMP/veska-from
  e2e_start_veska "$1"
}

# win_probe ARGS... : runs the window probe (tests/windows/e2e/window_probe)
# with ARGS, bounded, its answer on standard output without CRs.
win_probe() {
  local probe=${VESKA_WINDOW_PROBE:-$(dirname "$VESKA_EXE")/tests/windows/e2e/window_probe.exe}
  [ -f "$probe" ] || { echo "no window probe at $probe (build it first)"; return 2; }
  e2e_bounded 20 "$WINE" "$probe" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# win_program_windows : visible windows of the program (a menu, a box, a
# dialog); its tray icon belongs to Wine's explorer.exe.
win_program_windows() {
  xdotool search --onlyvisible --class '^veska\.exe$' 2>/dev/null | wc -l
}

# win_wait_window TITLE SECONDS : prints the id of a visible window of the
# program with exactly that title.
win_wait_window() {
  local id deadline=$((SECONDS + $2))
  while :; do
    id=$(comm -12 <(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | sort) \
      <(xdotool search --onlyvisible --class '^veska\.exe$' 2>/dev/null | sort) | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    ((SECONDS < deadline)) || return 1
    e2e_alive "$VESKA_PID" || return 1
    sleep 0.2
  done
}

# win_answer TITLE KEY... : finds the program's window of that title, gives
# it the keyboard (there is no window manager to) and types the keys; the
# window must then close.
win_answer() {
  local title=$1 id
  shift
  id=$(win_wait_window "$title" 15) || e2e_fail "no window titled \"$title\" appeared"
  e2e_focus "$id"
  xdotool key --delay 100 "$@"
  e2e_wait_until 10 eval '! xwininfo -id '"$id"' 2>/dev/null | grep -q IsViewable' ||
    e2e_fail "the window \"$title\" stayed open after $*"
  e2e_log "answered \"$title\" with $*"
}

# win_menu KEY... : opens the tray menu with a click on the icon, gives the
# menu the keyboard (under Wine the keys typed after the click are lost
# until it has it) and types the keys; the menu must then close.
win_menu() {
  local icon x y menu
  e2e_wait_until 10 eval '[ "$(win_program_windows)" -eq 0 ]' ||
    e2e_fail "a window of the program stayed open before the menu"
  icon=$(e2e_wait_tray_icon 15) || e2e_fail "no icon in the tray host"
  read -r x y <<<"$icon"
  xdotool mousemove --sync "$x" "$y" click 3
  e2e_wait_until 10 eval '[ "$(win_program_windows)" -gt 0 ]' ||
    e2e_fail "a click on the tray icon opened no menu"
  menu=$(xdotool search --onlyvisible --class '^veska\.exe$' 2>/dev/null | head -n 1)
  # Off the menu, so that only the keys choose.
  xdotool mousemove --sync 5 795
  e2e_focus "$menu"
  sleep 0.2
  xdotool key --delay 150 "$@"
}

# win_expect_settings WHAT FILE ARGS... : waits until FILE holds exactly
# the bytes win_settings ARGS makes.
win_expect_settings() {
  local what=$1 file=$2
  shift 2
  win_settings "$@" >"$E2E_TMP/expected.ini"
  e2e_expect_bytes "$what" "$E2E_TMP/expected.ini" "$file" settings.ini
}

# win_median_pitch FILE : the median pitch of the recording's half seconds
# (the last, partial one left out). Wine's sound driver drops a moment of
# sound now and then on a crowded machine, which bends the pitch of the
# stretch around it; the median is the pitch played.
win_median_pitch() {
  e2e_bounded 60 "$VESKA_ANALYZE" "$1" --segments 0.5 --min-hz 100 | sed '$d' |
    awk '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "pitch") p[++n] = kv[2] } }
         END { if (!n) exit 1
               for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (p[j] < p[i]) { t = p[i]; p[i] = p[j]; p[j] = t }
               printf "%.2f\n", n % 2 ? p[(n + 1) / 2] : (p[n / 2] + p[n / 2 + 1]) / 2 }'
}

# win_stop_veska : ends the program from outside, as e2e_stop_veska does,
# and waits until its sound has left the sound server.
win_stop_veska() {
  e2e_stop_veska
  e2e_wait_until 10 eval '! e2e_has_player' || e2e_fail "the ended program's sound stayed at the sound server"
}

# win_level FILE : the loudness of a steady tone, as its peak amplitude
# past the first fifth of a second: the moments of sound Wine's driver drops
# on a crowded machine lower the rms of any stretch, never the peak.
win_level() {
  e2e_bounded 30 sox "$1" -n trim 0.2 stat 2>&1 | awk '/^Maximum amplitude:/ { print $3; found = 1 }
    END { exit !found }'
}

# win_fake_power DIR none | win_fake_power DIR PERCENT mains|battery : a
# power supply folder as the kernel shows one: no battery, or one battery
# charged to PERCENT with the mains plugged in or not, which a later call
# changes in place. Wine's power status reads it in the programs started
# through WIN_POWER_WRAPPER (a mount namespace of their own with it over the
# real folder; e2e_fake_stat_available says whether that can be made).
win_fake_power() {
  local dir=$1 status=Discharging online=0
  mkdir -p "$dir/AC"
  echo Mains >"$dir/AC/type"
  if [ "$2" = none ]; then
    rm -rf "$dir/BAT0"
    online=1
  else
    [ "$3" = mains ] && { online=1; status=Charging; }
    (($2 >= 100)) && [ "$3" = mains ] && status=Full
    mkdir -p "$dir/BAT0"
    win_put "$dir/BAT0" type Battery
    win_put "$dir/BAT0" present 1
    win_put "$dir/BAT0" voltage_now 12000000
    win_put "$dir/BAT0" current_now 1000000
    win_put "$dir/BAT0" charge_full 5000000
    win_put "$dir/BAT0" charge_now $(($2 * 50000))
    win_put "$dir/BAT0" capacity "$2"
    win_put "$dir/BAT0" status "$status"
  fi
  win_put "$dir/AC" online "$online"
  WIN_POWER_WRAPPER=(unshare -m sh -c 'mount --bind "$0" /sys/class/power_supply && exec "$@"' "$dir")
}
# win_put DIR NAME VALUE : one file replaced whole, so a reader never sees
# it half written.
win_put() {
  echo "$3" >"$1/.$2"
  mv "$1/.$2" "$1/$2"
}
