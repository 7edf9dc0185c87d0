#!/usr/bin/env bash
# veska.exe under Wine hears the optional resources. The stand-in pdh.dll
# beside it scripts the network, GPU and thermal zone counters, and each of
# those elements' pitch-mode tones plays at the pitch its figure maps to:
# the loopback's traffic left out, the busiest GPU engine, the hottest zone.
# The battery element's volume-mode tone follows what GetSystemPowerStatus
# answers from a power supply folder of the test's own, as a probe in the
# same place reads it: silent without a battery, as loud as the charge used
# up on battery power, silent again full on the mains. The bundled pack
# with every element then loads and plays.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
win_init win_resources
e2e_require sox unshare
e2e_fake_stat_available || e2e_skip "no private mount namespaces here for a power supply of the test's own"
VESKA_POWER_STATUS=${VESKA_POWER_STATUS:-$(dirname "$VESKA_PDH_STANDIN")/../e2e/power_status.exe}
[ -f "$VESKA_POWER_STATUS" ] || e2e_fail "no probe at $VESKA_POWER_STATUS (build it first)"
win_start

# Each element's tone in a band of its own: net, GPU and temperature in
# pitch mode at their figures' levels (50, 40 and 50), the battery in
# volume mode at its base pitch. CPU and RAM are not heard.
declare -A base=([net]=300 [gpu]=500 [temp]=1000 [battery]=1700)
declare -A level=([net]=50 [gpu]=40 [temp]=50)
work=$E2E_TMP/work
pack=$work/packs/resources
win_workdir "$work" standin
e2e_make_tone_pack "$pack" 200 UseAverages=1 CPUSoundMode=0 RAMSoundMode=0 \
  NetSoundMode=1 GPUSoundMode=1 TempSoundMode=1 BatterySoundMode=0 SlideInterval=20
for element in "${!base[@]}"; do
  # Four tones together stay clear of clipping.
  sox -n -r 22050 -c 1 -b 16 "$pack/$element.wav" synth 2 sine "${base[$element]}" vol 0.2 ||
    e2e_fail "sox could not make the $element tone"
done
win_settings "$pack" 1 0 0 0 250 0 6 122 >"$work/settings.ini"

# 1 MB/s is 50 on the scale from 1 kB/s to 1 GB/s, which the loopback
# alone would pass; one 3D engine busy at 25 + 15 % is the busiest at 40;
# the hottest zone, 338.2 K, is 65.05 degrees, 50 on the scale from 30 to
# 100.
export VESKA_PDH_NET='Ethernet 2=1000000;MS TCP Loopback interface=1000000000'
export VESKA_PDH_GPU='pid_4_luid_0x00000000_0x0000C2F1_phys_0_eng_0_engtype_3D=25;pid_8_luid_0x00000000_0x0000C2F1_phys_0_eng_0_engtype_3D=15;pid_8_luid_0x00000000_0x0000C2F1_phys_0_eng_2_engtype_VideoDecode=30'
export VESKA_PDH_ZONES='\_TZ.TZ00=318.2;\_TZ.CPUZ=338.2'
win_fake_power "$E2E_TMP/power" none
win_start_veska "$work" "${WIN_POWER_WRAPPER[@]}"
e2e_wait_until 20 e2e_has_player || e2e_fail "no sound reached the sound server"

# band FILE ELEMENT : the recording with only the band of that element's
# tone (its pitch at its level), written beside it. The filter's edges are
# steep enough to pass the narrow band whole.
band() {
  local center
  center=$(e2e_pitch_at "${base[$2]}" "${level[$2]:-0}")
  e2e_bounded 30 sox "$1" "${1%.wav}-$2.wav" sinc -t 40 \
    "$(awk -v c="$center" 'BEGIN { printf "%d-%d", c * 0.93, c * 1.07 }')"
}
# band_rms FILE ELEMENT : that band's loudness, past the first fifth of a
# second; a moment of sound Wine drops lowers every band alike.
band_rms() {
  e2e_bounded 30 sox "${1%.wav}-$2.wav" -n trim 0.2 stat 2>&1 |
    awk '/^RMS +amplitude:/ { print $3; found = 1 } END { exit !found }'
}
# power_answer : what GetSystemPowerStatus answers in the program's place.
power_answer() {
  timeout -k 2 30 "${WIN_POWER_WRAPPER[@]}" "$WINE" "$VESKA_POWER_STATUS" 2>/dev/null | tr -d '\r'
}

# The three scripted figures, each at its pitch, once the levels have slid.
pitches_heard() {
  local file=$E2E_TMP/pitches.wav element pitch expected
  heard=
  e2e_record "$file" 1.6
  for element in net gpu temp; do
    band "$file" $element
    pitch=$(win_median_pitch "${file%.wav}-$element.wav") || pitch=0
    expected=$(e2e_pitch_at "${base[$element]}" "${level[$element]}")
    heard+=" $element $pitch Hz (expected $expected);"
    awk -v p="$pitch" -v e="$expected" 'BEGIN { exit !(p > e - 3 && p < e + 3) }' || return 1
  done
}
heard=
e2e_wait_until 30 pitches_heard ||
  e2e_fail "the scripted network, GPU and temperature were not heard at their pitches:$heard"
e2e_log "ok: heard$heard"

# battery_heard STATE... : the battery element's loudness against the
# network's full-volume tone, once the power supply is STATE and the
# level has slid to what the probe's answer maps to.
battery_heard() {
  local answer line percent flag expected ratio file=$E2E_TMP/battery.wav
  win_fake_power "$E2E_TMP/power" "$@"
  answer=$(power_answer) || e2e_fail "the power status probe failed: $answer"
  read -r line flag percent < <(awk -F'[ =]' '{ print $2, $4, $6 }' <<<"$answer")
  if ((flag & 128)) || { ((line == 1)) && ((percent >= 100)); }; then
    expected=0
  else
    expected=$((100 - percent))
  fi
  e2e_log "power supply $*: the probe says $answer; battery level $expected"
  local deadline=$((SECONDS + 15))
  while :; do
    e2e_record "$file" 1.2
    band "$file" net
    band "$file" battery
    ratio=$(awk -v b="$(band_rms "$file" battery)" -v n="$(band_rms "$file" net)" \
      'BEGIN { printf "%.3f", (n > 0 ? b / n : -1) }')
    awk -v r="$ratio" -v e="$expected" 'BEGIN { exit !(r > e / 100 - 0.05 && r < e / 100 + 0.05) }' &&
      break
    ((SECONDS < deadline)) ||
      e2e_fail "power supply $*: battery at $ratio of the network's loudness, expected $((expected))/100"
  done
  e2e_log "ok: power supply $*: battery at $ratio of the network's loudness, expected $expected/100"
}
battery_heard none
battery_heard 37 battery
battery_heard 100 mains
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
# Only the battery was ever silent, and it said so once.
log=$E2E_TMP/logs/veska.log
e2e_check "$(e2e_count_lines "$log" "stays silent") == 1 && $(e2e_count_lines "$log" \
  "VESKA: no battery reports its charge; the battery element stays silent") == 1" \
  "one line on standard error says the battery element stays silent"

# The bundled pack that has every element loads all its sounds (two lines
# each on standard output) and plays, with only the battery silent.
win_stop_veska
bundled=$work/packs/hearthside
cp -r "$E2E_SRC/packs/hearthside" "$bundled"
win_fake_power "$E2E_TMP/power" none
win_settings "$bundled" 1 1 1 1 250 0 6 122 >"$work/settings.ini"
win_start_veska "$work" "${WIN_POWER_WRAPPER[@]}"
e2e_wait_until 20 e2e_has_player || e2e_fail "hearthside: no sound reached the sound server"
files=$(find "$bundled" -name '*.flac' | wc -l)
e2e_wait_until 10 eval '[ "$(e2e_count_lines "$log" "WAV Header Info")" -ge $((2 * files)) ]' ||
  e2e_fail "hearthside: not all $files sounds loaded: $(e2e_count_lines "$log" "WAV Header Info") header lines"
sleep 1
e2e_check "$(e2e_count_lines "$log" "stays silent") == 1" "hearthside: all $files sounds loaded, only the battery silent"
e2e_alive "$VESKA_PID" || e2e_fail "hearthside: the program ended on its own"
echo "PASS: win_resources"
