#!/usr/bin/env bash
# The optional elements heard as the machine's own figures change: a pack
# whose network, temperature and battery sounds are tones of their own
# (network and battery as loudness, temperature as pitch). The program runs
# in a network namespace of the test's own, joined by a veth pair to a
# second one; data the test sends from one to the other makes the network
# tone louder. Temperature and battery come from a /sys tree the test
# writes (VESKA_SYS_ROOT). The battery is switched off in the menu, and the
# settings file then holds the pack's element keys after the nine others.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init resource_elements
e2e_require sox ip socat ss cmp
e2e_require_program
ns_a=veska-e2e-a-$$
ns_b=veska-e2e-b-$$
ip netns add "$ns_a" 2>/dev/null || e2e_skip "no network namespaces here (ip netns add refused)"
e2e_on_cleanup() {
  ip netns del "$ns_a" 2>/dev/null || true
  ip netns del "$ns_b" 2>/dev/null || true
}
ip netns add "$ns_b"
# Made inside the namespaces, so nothing of it is ever in the machine's own.
ip -n "$ns_a" link add va type veth peer name vb netns "$ns_b"
ip -n "$ns_a" addr add 10.231.7.1/30 dev va
ip -n "$ns_b" addr add 10.231.7.2/30 dev vb
for ns in "$ns_a" "$ns_b"; do
  ip -n "$ns" link set lo up
done
ip -n "$ns_a" link set va up
ip -n "$ns_b" link set vb up

e2e_start_display
e2e_start_sound

# The scripted figures: a cool zone and a full battery on mains.
sys=$E2E_TMP/sys
zone=$sys/class/thermal/thermal_zone0
bat=$sys/class/power_supply/BAT0
mkdir -p "$zone" "$bat"
echo 30000 >"$zone/temp"
echo Battery >"$bat/type"
echo 100 >"$bat/capacity"
echo Full >"$bat/status"
set_figure() { echo "$2" >"$1.new" && mv "$1.new" "$1"; }

# CPU and RAM sounds are silence and switched off; the tones sit apart.
net_hz=5000 temp_hz=880 battery_hz=200
work=$E2E_TMP/work
pack=$work/packs/probe
e2e_workdir "$work"
mkdir -p "$pack"
for f in cpu ram; do sox -n -r 22050 -c 1 -b 16 "$pack/$f.wav" synth 1 sine 100 vol 0; done
sox -n -r 22050 -c 1 -b 16 "$pack/net.wav" synth 2 sine $net_hz vol 0.5
sox -n -r 22050 -c 1 -b 16 "$pack/temp.wav" synth 2 sine $temp_hz vol 0.5
sox -n -r 22050 -c 1 -b 16 "$pack/battery.wav" synth 2 sine $battery_hz vol 0.5
printf '[soundpack]\r\nNetSoundMode = 0\r\nTempSoundMode = 1\r\nBatterySoundMode = 0\r\nSlideInterval = 20\r\n' \
  >"$pack/prefs.ini"
e2e_settings_bytes "$pack/" 0.5 0 0 1 250 0 6 122 >"$work/settings.ini"
e2e_start_veska "$work" ip netns exec "$ns_a" env "VESKA_SYS_ROOT=$sys"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"

# band NAME LOW HIGH : two seconds recorded, measured in that band.
band() {
  e2e_record "$E2E_TMP/$1.wav" 2
  e2e_band "$2" "$3" "$E2E_TMP/$1.wav"
  e2e_measure "$E2E_TMP/$1.wav" --from 0.2
}

# At rest only the temperature's tone plays, at its own pitch.
E2E_AWAIT_BAND="600 2200" e2e_await cool 15 "pitch > $temp_hz - 5 && pitch < $temp_hz + 5"
band net_idle 4500 5500
idle_net=$m_rms
band battery_full 120 280
full_battery=$m_rms
e2e_check "$idle_net < 0.002 && $full_battery < 0.002" \
  "network ($idle_net) and battery ($full_battery) are silent at rest"

# About 2.5 MB/s from the program's namespace to the other for eight
# seconds: level 56 of the 1 kB/s to 1 GB/s scale.
e2e_spawn listener ip netns exec "$ns_b" timeout 30 socat -u \
  TCP-LISTEN:7531,bind=10.231.7.2,reuseaddr STDOUT
e2e_wait_until 10 eval 'ip netns exec "$ns_b" ss -Hltn "sport = :7531" | grep -q .' ||
  e2e_fail "the listener in $ns_b did not start"
e2e_spawn sender bash -c 'for i in $(seq 80); do head -c 250000 /dev/zero; sleep 0.1; done |
  ip netns exec "$0" timeout 30 socat -u STDIN TCP:10.231.7.2:7531' "$ns_a"
E2E_AWAIT_BAND="4500 5500" e2e_await traffic 15 "rms > 0.01"
busy_net=$m_rms
e2e_check "$busy_net > 10 * ($idle_net + 0.0005)" \
  "the network tone grew louder with the traffic ($idle_net to $busy_net)"

# 65 degrees is level 50: the temperature's tone at the pitch mapping's.
set_figure "$zone/temp" 65000
expected=$(e2e_pitch_at $temp_hz 50)
E2E_AWAIT_BAND="600 2200" e2e_await hot 15 "pitch > $expected - 6 && pitch < $expected + 6"

# A battery emptying away from mains grows louder; at 20 % it is level 80.
set_figure "$bat/status" Discharging
set_figure "$bat/capacity" 20
E2E_AWAIT_BAND="120 280" e2e_await emptying 15 "rms > 0.01"
e2e_check "$m_rms > 10 * ($full_battery + 0.0005)" \
  "the battery tone grew louder as it emptied ($full_battery to $m_rms)"

# Elements > Battery: off, and saved with the pack's own keys only.
icon=$(e2e_wait_tray_icon 15) || e2e_fail "no icon appeared in the tray host"
e2e_open_tray_menu $icon
# Load soundpack..., Volume, Elements > CPU, RAM, Network, Temperature, Battery
xdotool key --delay 150 Down Down Down Right Down Down Down Down Return
{
  e2e_settings_bytes "$pack/" 0.5 0 0 1 250 0 6 122
  printf 'PlayNetwork = 1\r\nPlayTemperature = 1\r\nPlayBattery = 0\r\n'
} >"$E2E_TMP/expected.ini"
e2e_expect_bytes "the element keys follow the nine" "$E2E_TMP/expected.ini" \
  "$work/settings.ini" "the settings file"
band battery_off 120 280
e2e_check "$m_rms < 0.002" "the battery is silent once switched off ($m_rms)"

e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
# The pack has no GPU element, and every source it has answered.
e2e_check "$(e2e_count_lines "$E2E_TMP/logs/veska.log" 'stays silent') == 0" \
  "no element said it stays silent"
echo "PASS: resource_elements"
