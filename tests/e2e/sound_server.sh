#!/usr/bin/env bash
# The sound server goes away while the program plays and comes back: killed
# outright (KILL), then ended in order (TERM), and started again each time.
# The program stays alive, tells each loss and each return once on standard
# error, and is heard again within 2 s of the server's return, as loud and
# at the pitch it had before.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init sound_server
e2e_require sox
e2e_require_program
e2e_start_display
e2e_start_sound

tone=440
work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/tone" $tone UseAverages=1 CPUSoundMode=1 \
  SlideInterval=20
# With a load the test holds still, the pitch too must be as before; the
# machine's own load moves it, and then only the loudness is compared. A
# sample every five seconds spans many steps of the load writer, even when
# a busy machine holds it back for a while.
e2e_settings_bytes "$work/packs/tone/" 0.5 0 1 0 5000 0 6 122 >"$work/settings.ini"
wrapper=()
if e2e_fake_stat_available; then
  e2e_fake_stat_start
  e2e_fake_load 30
  wrapper=("${E2E_STAT_WRAPPER[@]}")
fi
e2e_start_veska "$work" "${wrapper[@]}"
log=$E2E_TMP/logs/veska.log
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
# Its own stream, not one through SDL: the wakeups and latency of the
# program are those of this one.
own_stream() { [[ $(pactl list sink-inputs 2>&1) == *'media.name = "VESKA"'* ]]; }
own_stream || e2e_fail "the program does not play its own stream into the server"
# The level is known from the second sample on, ten seconds in.
sleep 2
for try in $(seq 1 12); do
  e2e_record "$E2E_TMP/before.wav" 1.2
  e2e_measure "$E2E_TMP/before.wav" --from 0.2
  ((${#wrapper[@]})) || break
  awk -v p="$m_pitch" -v e="$(e2e_pitch_at $tone 30)" 'BEGIN { exit !(p > e - 3 && p < e + 3) }' && break
  ((try < 12)) || e2e_fail "the tone never reached the pitch of a 30% load ($m_pitch Hz)"
done
before_rms=$m_rms
before_pitch=$m_pitch
e2e_check "$before_rms > 0.01" "the tone plays ($E2E_LAST_MEASURE)"

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$VESKA_PID/stat"; }

# restart SIGNAL ROUND : ends the server, waits, starts it again and checks
# that the sound came back.
restart() {
  local signal=$1 round=$2 ticks0 ticks1 first
  e2e_stop_sound "$signal"
  ticks0=$(cpu_ticks)
  e2e_wait_until 5 eval '[ "$(e2e_count_lines "$log" "Sound output lost")" -ge '"$round"' ]' ||
    e2e_fail "SIG$signal: the program did not say that the sound output was lost"
  sleep 2
  e2e_alive "$VESKA_PID" || e2e_fail "SIG$signal: the program ended with the server"
  ticks1=$(cpu_ticks)
  e2e_log "SIG$signal: the program used $((ticks1 - ticks0)) clock ticks in the 2 s without a server"

  # The recorder runs before the program can find the new server, so that
  # the recording holds the moment the program's sound comes back.
  e2e_start_sound_again held
  local file=$E2E_TMP/after-$signal.wav bytes_back
  e2e_record_start "$file"
  e2e_wait_until 10 eval '[ "$(stat -c %s "'"$file"'")" -gt 48044 ]' ||
    e2e_fail "SIG$signal: the recorder did not record"
  # What the file holds before the return is at most what was recorded by
  # then, so the time to the sound's return is never measured short.
  bytes_back=$(stat -c %s "$file")
  e2e_open_program_socket
  sleep 3.5
  e2e_record_stop
  if ! e2e_wait_until 5 e2e_has_player; then
    e2e_log "clients of the new server: $(pactl list short clients 2>&1 | tr '\n' ';')"
    e2e_fail "SIG$signal: the program did not come back to the server"
  fi
  own_stream || e2e_fail "SIG$signal: the program came back through another output"
  # While the server was away only the server was tried, never SDL's other
  # outputs (they write their failures on standard error).
  (($(e2e_count_lines "$log" "ALSA lib") == 0)) ||
    e2e_fail "SIG$signal: the program tried other outputs while the server was away"

  # The sound is back at the first fiftieth of a second as loud as half the
  # tone before.
  first=$("$VESKA_ANALYZE" "$file" --segments 0.02 | awk -v r="$before_rms" '
    { for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
      if (!found && v["rms"] > r / 2) { print v["t"]; found = 1 } }
    END { if (!found) print -1 }')
  awk "BEGIN { exit !($first >= 0) }" ||
    e2e_fail "SIG$signal: no sound within 3.5 s of the server's return"
  local heard
  heard=$(awk -v n="$bytes_back" -v r=$E2E_RATE -v f="$first" \
    'BEGIN { printf "%.2f", f - (n - 44) / (4 * r) }')
  e2e_log "SIG$signal: the program's sound was back $heard s after the server's return"
  e2e_check "$heard <= 2.0" "SIG$signal: sound resumed within 2 s ($heard s)"

  e2e_measure "$file" --from "$(awk -v f="$first" 'BEGIN { print f + 0.5 }')"
  e2e_check "$m_rms > 0.8 * $before_rms && $m_rms < 1.25 * $before_rms" \
    "SIG$signal: as loud as before ($before_rms, now $m_rms)"
  if ((${#wrapper[@]})); then
    e2e_check "$m_pitch > $before_pitch - 3 && $m_pitch < $before_pitch + 3" \
      "SIG$signal: at the pitch before ($before_pitch Hz, now $m_pitch Hz)"
  fi
  local lost back
  lost=$(e2e_count_lines "$log" "Sound output lost")
  back=$(e2e_count_lines "$log" "Sound output back")
  ((lost == round && back == round)) ||
    e2e_fail "SIG$signal: after $round restarts the program told $lost losses and $back returns"
}

restart KILL 1
restart TERM 2
e2e_alive "$VESKA_PID" || e2e_fail "the program ended"
echo "PASS: sound_server"
