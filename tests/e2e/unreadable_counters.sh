#!/usr/bin/env bash
# The load counters become unreadable while the program runs: /proc/stat,
# /proc/diskstats and /proc/meminfo are covered, in the program's own mount
# namespace, by a file it has no right to read. The program keeps running and
# playing, and tells each file once on standard error, not at every sample.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init unreadable_counters
e2e_require sox unshare nsenter mount setpriv
e2e_require_program
unshare -m true 2>/dev/null || e2e_skip "no private mount namespaces here (needs root or user namespaces)"
((EUID == 0)) || e2e_skip "needs root to cover the counter files"
e2e_start_display
e2e_start_sound

work=$E2E_TMP/work
e2e_workdir "$work"
e2e_make_tone_pack "$work/packs/tone" 440 UseAverages=1 CPUSoundMode=1 \
  DiskSoundMode=0 SlideInterval=20
# The disk is sampled only for a pack with a disk sound; it is not played.
sox -n -r 22050 -c 1 -b 16 "$work/packs/tone/Disk.wav" synth 2 sine 1500 vol 0.5 ||
  e2e_fail "sox could not make the disk tone"
e2e_settings_bytes "$work/packs/tone/" 0.5 0 1 0 250 0 6 122 >"$work/settings.ini"
# Without the right to read any file regardless of its mode, a root program
# is refused a file of mode 000, as any other user would be.
e2e_start_veska "$work" unshare -m setpriv --inh-caps=-all \
  --bounding-set=-dac_override,-dac_read_search
log=$E2E_TMP/logs/veska.log
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
# The stream shows before its sound flows on a busy machine.
sleep 2
e2e_record "$E2E_TMP/before.wav" 1.2
e2e_measure "$E2E_TMP/before.wav" --from 0.2
before_rms=$m_rms
e2e_check "$before_rms > 0.01" "the tone plays ($E2E_LAST_MEASURE)"

install -m 000 /dev/null "$E2E_TMP/unreadable"
files=(stat diskstats meminfo)
for name in "${files[@]}"; do
  nsenter -t "$VESKA_PID" -m mount --bind "$E2E_TMP/unreadable" "/proc/$name" ||
    e2e_fail "could not cover /proc/$name in the program's mount namespace"
done
e2e_log "covered /proc/${files[*]} in the program's mount namespace"

told() { e2e_count_lines "$log" "Can't read /proc/$1;"; }
for name in "${files[@]}"; do
  e2e_wait_until 5 eval '[ "$(told '"$name"')" -ge 1 ]' ||
    e2e_fail "the program did not tell that /proc/$name cannot be read"
done
# A dozen samples more at a quarter second each.
sleep 3
e2e_alive "$VESKA_PID" || e2e_fail "the program ended"
for name in "${files[@]}"; do
  [ "$(told "$name")" -eq 1 ] ||
    e2e_fail "/proc/$name was told $(told "$name") times, not once"
done
e2e_log "ok: each unreadable file told once"

e2e_record "$E2E_TMP/after.wav" 1.2
e2e_measure "$E2E_TMP/after.wav" --from 0.2
# Pitch mode holds the volume whatever the level, which now reads 0: the
# tone's own pitch.
e2e_check "$m_rms > 0.8 * $before_rms && $m_rms < 1.25 * $before_rms" \
  "the tone still plays as loud ($before_rms, now $m_rms)"
e2e_check "$m_pitch > 437 && $m_pitch < 443" "the CPU level reads 0: $m_pitch Hz"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended"
echo "PASS: unreadable_counters"
