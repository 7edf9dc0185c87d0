#!/usr/bin/env bash
# The disk chain: writes the test makes past the page cache are sampled from
# /proc/diskstats, raise the disk level and are heard as a pack's disk sound
# growing louder; the tray menu's "Disk" item silences that sound while the
# writes go on, and brings it back.
#
# The pack's CPU sound is a 200 Hz tone in pitch mode, always at the master
# volume; its disk sound is a 3000 Hz tone as loud in the file, in loudness
# mode. Each is measured in its own band, and the disk level heard is the
# ratio of the two, in percent, taken over tenths of a second so that a
# level that comes and goes counts by its mean, as the disks' busy share
# does.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init disk_chain
e2e_require sox dd cmp
e2e_require_program

# Writes must reach a disk the program can see.
disk_dir=""
for candidate in "$E2E_TMP" "$(dirname "$VESKA_BIN")"; do
  [ -d "$candidate" ] && [ -w "$candidate" ] || continue
  dir=$(mktemp -d "$candidate/veska-disk.XXXXXX") || continue
  if e2e_disk_writes_visible "$dir"; then
    disk_dir=$dir
    break
  fi
  rm -rf "$dir"
done
[ -n "$disk_dir" ] || e2e_skip "no folder here whose writes show in /proc/diskstats (tmpfs only?)"
e2e_on_cleanup() { rm -rf "$disk_dir"; }
e2e_log "writing in $disk_dir with $E2E_DD_FLAGS"

e2e_start_display
e2e_start_sound
work=$E2E_TMP/work
e2e_workdir "$work"
pack=$work/packs/disk/
# A short slide interval lets the disk level follow within half a second.
e2e_make_tone_pack "$pack" 200 UseAverages=1 CPUSoundMode=1 DiskSoundMode=0 \
  SlideInterval=10
sox -n -r 22050 -c 1 -b 16 "$pack/Disk.wav" synth 2 sine 3000 vol 0.5 ||
  e2e_fail "sox could not make the disk tone"
e2e_settings_bytes "$pack" 0.5 0 1 1 250 0 6 122 >"$work/settings.ini"
e2e_start_veska "$work"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
icon=$(e2e_wait_tray_icon 15) || e2e_fail "no icon appeared in the tray host"
read -r icon_x icon_y <<<"$icon"

# band_loudness FILE FILTER... : the mean loudness of the tenths of a second
# in one band of a recording.
band_loudness() {
  local file=$1
  shift
  sox "$file" "$file.band.wav" "$@" 2>/dev/null || e2e_fail "sox could not filter $file"
  "$VESKA_ANALYZE" "$file.band.wav" --from 0.3 --segments 0.1 | awk '
    { for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
      if (v["duration"] > 0.05) { sum += v["rms"]; n++ } }
    END { if (n < 10) exit 1; printf "%.6f\n", sum / n }' ||
    e2e_fail "could not measure $file"
}

# phase NAME : lets the level settle, records two seconds and sets
# disk_level (heard, in percent of the CPU tone), cpu_loudness and busy (the
# disks' busy share meanwhile, as the test reads it).
phase() {
  local s0 s1 disk_loudness
  # A loaded machine can hold the main loop back from the level's steps.
  sleep 2.5
  s0=$(e2e_disk_busy_sample)
  e2e_record "$E2E_TMP/$1.wav" 2.3
  s1=$(e2e_disk_busy_sample)
  busy=$(e2e_disk_busy "$s0" "$s1")
  disk_loudness=$(band_loudness "$E2E_TMP/$1.wav" sinc 2500-3500)
  cpu_loudness=$(band_loudness "$E2E_TMP/$1.wav" sinc -1000)
  awk "BEGIN { exit !($cpu_loudness > 0.01) }" ||
    e2e_fail "$1: the CPU tone is not heard ($cpu_loudness)"
  disk_level=$(awk -v d="$disk_loudness" -v c="$cpu_loudness" 'BEGIN { printf "%d", 100 * d / c + 0.5 }')
  e2e_log "$1: disks ${busy}% busy, disk sound at level $disk_level (CPU tone $cpu_loudness)"
}

# writes_phase NAME [heard] : a phase while the test writes; a virtual disk
# can stall for a moment, and a loaded machine can hold the level back, so
# a phase where the writes did not keep the disks busy (or, with "heard",
# were not heard yet) is measured again, twice at most.
writes_phase() {
  local try
  for try in 1 2 3; do
    phase "$1"
    if ((busy >= 40)) && { [ "${2:-}" != heard ] || ((disk_level >= 25)); }; then
      return 0
    fi
  done
  ((busy >= 40)) || e2e_fail "$1: the test's writes kept the disks only ${busy}% busy"
}

# toggle_disk : Elements > Disk from the menu, driven with the keyboard.
toggle_disk() {
  e2e_open_tray_menu "$icon_x" "$icon_y"
  xdotool key --delay 150 Down Down Down Right Down Down Return
}
expect_play_disk() {
  e2e_settings_bytes "$pack" 0.5 0 1 "$1" 250 0 6 122 >"$E2E_TMP/expected.ini"
  e2e_wait_until 5 cmp -s "$E2E_TMP/expected.ini" "$work/settings.ini" ||
    e2e_fail "the settings file does not hold PlayDisk = $1 after the menu's \"Disk\""
}

phase idle
idle_level=$disk_level
idle_busy=$busy

e2e_disk_writer_start "$disk_dir"
writes_phase writes heard
# The level heard follows the disks' busy share as the test reads it.
e2e_check "$disk_level >= 25 && $disk_level >= $busy - 40 && $disk_level <= $busy + 40" \
  "the writes are heard: disk sound at level $disk_level for ${busy}% busy disks"
# Other programs' writes can keep the disks busy before the test's too; the
# rise is asked where the busy share rose.
if ((busy >= idle_busy + 30)); then
  e2e_check "$disk_level >= $idle_level + 15" "the disk sound rose from level $idle_level"
else
  e2e_log "the disks were ${idle_busy}% busy before the writes: the rise is not compared"
fi
writes_cpu=$cpu_loudness

toggle_disk
expect_play_disk 0
writes_phase silenced
e2e_check "$disk_level <= 3" "with \"Disk\" off the disk sound is silent while the writes go on (level $disk_level)"
# Gaps a loaded machine puts in the sound lower both tones alike.
e2e_check "$cpu_loudness > 0.5 * $writes_cpu" "the CPU tone plays on ($cpu_loudness)"

toggle_disk
expect_play_disk 1
writes_phase again heard
e2e_disk_writer_stop
e2e_check "$disk_level >= 25" "with \"Disk\" on again the writes are heard (level $disk_level, disks ${busy}% busy)"
e2e_alive "$VESKA_PID" || e2e_fail "the program ended"
echo "PASS: disk_chain"
