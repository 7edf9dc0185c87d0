#!/usr/bin/env bash
# Another machine played like this one: a real Linux exporter, reading
# processor times the test writes, stands for the remote host, and the
# pitch pack follows the load the test gives it, exactly as the mapping
# says. Then "Listen to" switches to this computer and back without a
# restart, keeping the choice in sources.ini and settings.ini byte for byte.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/remote_lib.sh"
e2e_init remote_exporter
e2e_require sox cmp curl prometheus-node-exporter
e2e_require_program
e2e_start_display
e2e_start_sound

tone=440
work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/tone" $tone UseAverages=1 CPUSoundMode=1 \
  RAMSoundMode=1 SlideInterval=20
e2e_settings_bytes "$work/packs/tone/" 0.5 0 1 0 250 0 6 122 >"$work/settings.ini"
cp "$work/settings.ini" "$E2E_TMP/settings.before"

# The remote host's /proc: processor lines the test decides, memory as here.
e2e_fake_stat_start
cp /proc/meminfo "$(dirname "$E2E_STAT_FILE")/meminfo"
port=$(e2e_free_ports 1)
e2e_start_node_exporter "$port" "$(dirname "$E2E_STAT_FILE")"
printf '[far]\r\nExporter = http://127.0.0.1:%s/metrics\r\n' "$port" >"$work/sources.ini"

e2e_start_veska "$work" sh -c 'exec "$0" --listen far'
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
for level in 100 30; do
  e2e_fake_load $level
  expected=$(e2e_pitch_at $tone $level)
  e2e_await "remote$level" 25 "pitch > $expected - 8 && pitch < $expected + 8"
  e2e_record "$E2E_TMP/remote$level.wav" 1.7
  e2e_measure "$E2E_TMP/remote$level.wav" --from 0.2
  e2e_check "$m_pitch > $expected - 3 && $m_pitch < $expected + 3" \
    "remote load $level%: pitch $m_pitch Hz, expected $expected Hz"
done

# This computer, then the remote host again, in the same process.
kept_choice() { tr -d '\r' <"$work/sources.ini" | sed -n 's/^Source = *//p'; }
e2e_listen_to 0
e2e_wait_until 10 eval '[ -n "$(grep Source "$work/sources.ini")" ] && [ -z "$(kept_choice)" ]' ||
  e2e_fail "the choice of this computer was not kept in sources.ini"
e2e_log "ok: this computer chosen and kept"
e2e_wait_until 10 e2e_has_player || e2e_fail "no sound after switching to this computer"
e2e_fake_load 60
e2e_listen_to 1
expected=$(e2e_pitch_at $tone 60)
e2e_await "back60" 25 "pitch > $expected - 8 && pitch < $expected + 8"
[ "$(kept_choice)" = far ] ||
  e2e_fail "the choice of the remote host was not kept in sources.ini"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended on its own"
cmp -s "$E2E_TMP/settings.before" "$work/settings.ini" ||
  e2e_fail "switching sources changed settings.ini"
e2e_log "ok: settings.ini is byte for byte as before"
echo "PASS: remote_exporter"
