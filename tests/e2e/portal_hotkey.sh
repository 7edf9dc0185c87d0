#!/usr/bin/env bash
# The global hotkey in a Wayland session, through the desktop portal: the
# program binds Control + Shift + F11 with a stand-in portal on a private
# session bus, which then signals the keys going down and up. "Normal
# Toggle" silences and restores the sound; "Push To Play" plays while the
# keys are held and stops soon after they come up. (The display is still
# X11: only the hotkey takes the Wayland road here.)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init portal_hotkey
e2e_require sox dbus-daemon dbus-send
e2e_require_program
standin=$(dirname "$VESKA_BIN")/tests/shell/qt/portal_standin
[ -x "$standin" ] || e2e_fail "no stand-in portal at $standin (build it first)"
e2e_start_display
e2e_start_sound

loud=0.02
quiet=0.002

# A private bus with no service folders: only the stand-in can be the portal.
cat >"$E2E_TMP/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:dir=$E2E_TMP</listen>
<auth>EXTERNAL</auth><policy context="default">
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>
CONF
e2e_spawn bus dbus-daemon --nofork --print-address=1 --config-file="$E2E_TMP/bus.conf"
e2e_wait_until 10 grep -q '^unix:' "$E2E_TMP/logs/bus.log" || e2e_fail "the private bus did not start"
bus=$(grep -m 1 '^unix:' "$E2E_TMP/logs/bus.log")

portal() {
  dbus-send --bus="$bus" --print-reply --reply-timeout=5000 \
    --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
    "org.veska.test.Portal.$1" >"$E2E_TMP/logs/portal-reply.log" 2>&1
}

e2e_spawn portal env DBUS_SESSION_BUS_ADDRESS="$bus" "$standin"
e2e_wait_until 10 grep -q ready "$E2E_TMP/logs/portal.log" || e2e_fail "the stand-in portal did not start"

run_with_mode() {
  work=$E2E_TMP/work$1
  e2e_workdir "$work"
  e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1
  e2e_settings_bytes "$work/packs/tone/" 0.5 0 1 0 500 "$1" 6 122 >"$work/settings.ini"
  DBUS_SESSION_BUS_ADDRESS=$bus WAYLAND_DISPLAY=wayland-veska-test e2e_start_veska "$work"
  e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
  e2e_wait_until 10 eval 'portal Trigger && grep -q CTRL+SHIFT+F11 "$E2E_TMP/logs/portal-reply.log"' ||
    e2e_fail "the program did not bind CTRL+SHIFT+F11 with the portal"
  sleep 0.5
}

expect() {
  e2e_record "$E2E_TMP/$1.wav" 1.2
  e2e_measure "$E2E_TMP/$1.wav" --from 0.2
  if [ "$2" = loud ]; then
    e2e_check "$m_rms > $loud" "$1: sound plays (rms $m_rms)"
  else
    e2e_check "$m_rms < $quiet" "$1: silent (rms $m_rms)"
  fi
}

e2e_log "Normal Toggle"
run_with_mode 0
expect toggle_start loud
portal Press && portal Release
sleep 0.5
expect toggle_first_press quiet
portal Press && portal Release
sleep 0.5
expect toggle_second_press loud
e2e_stop_veska

e2e_log "Push To Play"
run_with_mode 1
expect push_start loud
portal Press
sleep 1.5
portal Release
sleep 1.2
expect push_released quiet
# Held well past the release delay: the sound plays throughout.
portal Press
sleep 1
expect push_held loud
portal Release
sleep 1.2
expect push_released_again quiet
grep -q 'does not work' "$E2E_TMP/logs/veska.log" && e2e_fail "the program said the hotkey does not work"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
echo "PASS: portal_hotkey"
