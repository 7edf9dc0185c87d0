#!/usr/bin/env bash
# Makes the bundled soundpacks and the tray image from nothing but numbers:
#
#   tidewater/   Ogg Vorbis, CPU average as pitch, RAM as a cross-fade, disk
#                as loudness (the first pack to try)
#   glasshouse/  FLAC, one detuned sound pair per core spread left to right,
#                RAM as loudness, disk as pitch
#   clockwork/   WAV, CPU average as loudness, RAM as pitch, disk as a
#                cross-fade
#   hearthside/  FLAC, every element: the CPU as a fire, RAM, disk, the
#                network as rain, the GPU as a fan, heat as a drone and the
#                battery as a clock
#   ../VESKA.bmp the tray icon
#
# Needs sox, oggenc, flac and ImageMagick (all installed by scripts/setup),
# and veska-pack (build/veska-pack, or the one VESKA_PACK names), which checks
# every pack made: the script fails when an element of one would be silent.
# Run it from anywhere; it rewrites the packs beside it (or only those named:
# make_packs.sh hearthside). Vary the numbers below to make new designs.
#
# Every sound is a loop of a whole number of periods: each tone's frequency
# (and each tremolo rate) times the loop length is a whole number, rhythmic
# patterns fit the loop exactly, and noise is repeated rather than generated
# afresh. Filters and reverb run over three copies of the loop and only the
# middle one is kept, so their start-up is cut away and their tails wrap
# round into the loop's beginning exactly as they would when it repeats.
# Peaks are normalised to -4 dBFS, leaving room for lossy coding.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sox_float=(-e floating-point -b 32 -c 1)
peak_db=-4

# tone OUT RATE SECONDS WAVE FREQ: one partial, a whole loop long.
tone() {
  sox -R -n -r "$2" "${sox_float[@]}" "$1" synth "$3" "$4" "$5"
}

# noise OUT RATE SECONDS COLOUR: one loop of noise.
noise() {
  sox -R -n -r "$2" "${sox_float[@]}" "$1" synth "$3" "$4"
}

# mix OUT IN1 VOL1 [IN2 VOL2 ...]: sum of the inputs at the given weights.
mix() {
  local out="$1"
  shift
  local args=()
  while (($#)); do
    # A quarter of each weight keeps the sum clear of full scale; the level
    # is set by the normalisation at the end.
    args+=(-v "$(awk -v v="$2" 'BEGIN { printf "%.4f", v / 4 }')" "$1")
    shift 2
  done
  if ((${#args[@]} == 2)); then
    sox -R "${args[@]}" "$out"
  else
    sox -R -m "${args[@]}" "$out"
  fi
}

# ping OUT RATE FREQ SECONDS: a struck tone dying away.
ping() {
  local fade_out
  fade_out="$(awk -v d="$4" 'BEGIN { printf "%.4f", d - 0.002 }')"
  sox -R -n -r "$2" "${sox_float[@]}" "$1" synth "$4" sine "$3" \
    fade l 0.002 "$4" "$fade_out"
}

# pattern OUT RATE SECONDS EVENT... with EVENT = FILE@START@VOLUME: the events
# laid on a silent loop (each must end before the loop does).
pattern() {
  local out="$1" rate="$2" seconds="$3"
  shift 3
  local inputs=() n=0
  inputs+=(-v 1 "$work/silence.$rate.$seconds.wav")
  sox -R -n -r "$rate" "${sox_float[@]}" "${inputs[2]}" \
    synth "$seconds" sine 0 gain -200
  for event in "$@"; do
    IFS=@ read -r file start volume <<<"$event"
    local placed="$work/placed.$n.wav"
    local length
    length="$(soxi -D "$file")"
    local rest
    rest="$(awk -v s="$seconds" -v a="$start" -v l="$length" \
      'BEGIN { printf "%.6f", s - a - l }')"
    sox -R "$file" "$placed" pad "$start" "$rest"
    inputs+=(-v "$(awk -v v="$volume" 'BEGIN { printf "%.4f", v / 4 }')" \
      "$placed")
    n=$((n + 1))
  done
  sox -R -m "${inputs[@]}" "$out" trim 0 "$seconds"
}

# scatter COUNT SPACING PREFIX VARIANTS: COUNT pattern events about SPACING
# seconds apart, nudged and of uneven loudness by fixed numbers so that they
# do not sound like a machine, taking PREFIX0.wav .. PREFIX<VARIANTS-1>.wav
# by turns; one event a line, for pattern.
scatter() {
  awk -v n="$1" -v step="$2" -v prefix="$3" -v variants="$4" 'BEGIN {
    for (i = 0; i < n; i++)
      printf "%s%d.wav@%.3f@%.2f\n", prefix, i % variants,
        i * step + (i * 7 % 5) * 0.01, 0.3 + 0.7 * ((i * 3) % 5) / 4
  }'
}

# finish IN OUT_WAV RATE SECONDS [EFFECT...]: the effects over three loops,
# the middle loop kept, normalised, as 16-bit PCM.
finish() {
  local in="$1" out="$2" rate="$3" seconds="$4"
  shift 4
  local samples=$((rate * seconds))
  sox -R "$in" "$work/three.wav" repeat 2
  # Headroom first: filters and reverb can ring above their input.
  sox -V1 -R -D "$work/three.wav" -r "$rate" -e signed-integer -b 16 -c 1 "$out" \
    gain -12 "$@" trim "${samples}s" "${samples}s" gain -n "$peak_db"
}

# quiet_seam IN OUT: the loop turned round so that it starts at its quietest
# moment (a 20 ms window), at the smallest sample there. A lossy coder is not
# exact at the ends of a file; there its error is least heard.
quiet_seam() {
  local rate start
  rate="$(soxi -r "$1")"
  start="$(sox "$1" -t s16 -c 1 - | od -An -td2 -v -w2 | awk -v w=$((rate / 50)) '
    { x[NR - 1] = $1 }
    END {
      n = NR; e = 0
      for (i = 0; i < w; i++) e += x[i] * x[i]
      best = e; at = 0
      for (i = 1; i < n; i++) {
        e += x[(i + w - 1) % n] ^ 2 - x[i - 1] ^ 2
        if (e < best) { best = e; at = i }
      }
      pick = at; least = 1e9
      for (i = 0; i < w; i++) {
        j = (at + i) % n; a = x[j] < 0 ? -x[j] : x[j]
        if (a < least) { least = a; pick = j }
      }
      print pick
    }')"
  if ((start == 0)); then
    cp "$1" "$2"
  else
    sox -D "|sox $1 -p trim ${start}s" "|sox $1 -p trim 0 ${start}s" \
      -b 16 -e signed-integer "$2"
  fi
}

to_ogg() {
  quiet_seam "$1" "$work/seam.wav"
  oggenc -Q -q 6 --serial 1 -o "$2" "$work/seam.wav"
}
to_flac() { flac -s -8 --no-padding -f -o "$2" "$1"; }

write_prefs() {
  local folder="$1"
  shift
  {
    printf '; %s\r\n' "Made by packs/make_packs.sh"
    printf '[soundpack]\r\n'
    for line in "$@"; do printf '%s\r\n' "$line"; done
  } >"$folder/prefs.ini"
}

fresh_folder() {
  rm -rf "${here:?}/$1"
  mkdir -p "$here/$1"
}

# --- tidewater: a warm hum over the sea; drips when the disk works ---------
make_tidewater() {
  local r=22050 s=4 w="$work/tide"
  mkdir -p "$w"
  fresh_folder tidewater

  # CPU, heard as pitch: an organ-like hum on 110 Hz, authored at 22050 Hz
  # so that idle plays it as written and full load 3.27 times higher.
  tone "$w/h1.wav" $r $s sine 110
  tone "$w/h2.wav" $r $s sine 220
  tone "$w/h3.wav" $r $s sine 330
  tone "$w/h4.wav" $r $s sine 440
  tone "$w/h5.wav" $r $s sine 550
  mix "$w/hum.wav" "$w/h1.wav" 1 "$w/h2.wav" 0.5 "$w/h3.wav" 0.3 \
    "$w/h4.wav" 0.12 "$w/h5.wav" 0.06
  # It swells and ebbs like the sea; the swell quickens with the pitch.
  finish "$w/hum.wav" "$w/cpu.wav" $r $s tremolo 0.5 60 lowpass 1500

  # RAM, cross-faded: calm surf at rest, rougher and brighter surf when full.
  noise "$w/brown.wav" $r $s brownnoise
  finish "$w/brown.wav" "$w/ram_a.wav" $r $s lowpass 450 tremolo 0.25 60
  noise "$w/pink.wav" $r $s pinknoise
  finish "$w/pink.wav" "$w/ram_b.wav" $r $s bandpass 1100 1.2q \
    tremolo 1 50

  # Disk, heard as loudness: water drips high above the rest, in a room.
  ping "$w/d1.wav" $r 1568 0.18
  ping "$w/d2.wav" $r 1318.5 0.18
  ping "$w/d3.wav" $r 2093 0.14
  pattern "$w/drips.wav" $r $s \
    "$w/d1.wav@0.00@1" "$w/d3.wav@0.45@0.6" "$w/d2.wav@1.10@0.8" \
    "$w/d1.wav@1.95@0.7" "$w/d3.wav@2.30@0.5" "$w/d2.wav@3.05@0.9" \
    "$w/d3.wav@3.55@0.4"
  finish "$w/drips.wav" "$w/Disk.wav" $r $s reverb 40 50 60

  for f in cpu ram_a ram_b Disk; do
    to_ogg "$w/$f.wav" "$here/tidewater/$f.ogg"
  done
  write_prefs "$here/tidewater" "UseAverages=1" "CPUSoundMode=1" \
    "RAMSoundMode=2" "SlideInterval=100" "FrequencyFluctuation=0" \
    "DiskSoundMode=0"
}

# --- glasshouse: a chorus of glass, one voice per core ---------------------
make_glasshouse() {
  local r=44100 s=4 w="$work/glass"
  mkdir -p "$w"
  fresh_folder glasshouse

  # CPU per core, cross-faded from a still glass tone to a buzzing one. At
  # 44100 Hz the per-core detune of up to 1000 Hz stays within 40 cents: a
  # slow chorus, not a clash.
  tone "$w/g1.wav" $r $s sine 523.25
  tone "$w/g2.wav" $r $s sine 1046.5
  tone "$w/g3.wav" $r $s sine 1569.75
  tone "$w/g4.wav" $r $s sine 784
  tone "$w/g5.wav" $r $s sine 2093
  mix "$w/still.wav" "$w/g1.wav" 1 "$w/g2.wav" 0.25 "$w/g3.wav" 0.08
  finish "$w/still.wav" "$w/cpu_a.wav" $r $s tremolo 0.25 30 lowpass 3000
  mix "$w/busy.wav" "$w/g1.wav" 0.6 "$w/g4.wav" 0.5 "$w/g2.wav" 0.4 \
    "$w/g5.wav" 0.15
  finish "$w/busy.wav" "$w/cpu_b.wav" $r $s tremolo 6 60 lowpass 5000

  # RAM, heard as loudness: a low singing bowl, well below the glass.
  tone "$w/b1.wav" $r $s sine 130.75
  tone "$w/b2.wav" $r $s sine 261.5
  tone "$w/b3.wav" $r $s sine 392.25
  mix "$w/bowl.wav" "$w/b1.wav" 0.8 "$w/b2.wav" 0.3 "$w/b3.wav" 0.15
  finish "$w/bowl.wav" "$w/ram.wav" $r $s tremolo 0.75 20 lowpass 800

  # Disk, heard as pitch: soft ticks that run faster and higher with the
  # load; authored at 22050 Hz.
  local dr=22050
  ping "$w/t1.wav" $dr 2637 0.05
  ping "$w/t2.wav" $dr 1975.5 0.05
  pattern "$w/ticks.wav" $dr $s \
    "$w/t1.wav@0.00@1" "$w/t2.wav@0.50@0.7" "$w/t1.wav@1.00@0.9" \
    "$w/t2.wav@1.50@0.7" "$w/t1.wav@2.00@1" "$w/t2.wav@2.50@0.7" \
    "$w/t1.wav@3.00@0.9" "$w/t2.wav@3.50@0.7"
  finish "$w/ticks.wav" "$w/Disk.wav" $dr $s highpass 600 reverb 20 50 30

  for f in cpu_a cpu_b ram Disk; do
    to_flac "$w/$f.wav" "$here/glasshouse/$f.flac"
  done
  write_prefs "$here/glasshouse" "UseAverages=0" "CPUSoundMode=2" \
    "RAMSoundMode=0" "SlideInterval=100" "FrequencyFluctuation=1" \
    "DiskSoundMode=1"
}

# --- clockwork: a motor, a spring and an escapement ------------------------
make_clockwork() {
  local r=22050 s=4 w="$work/clock"
  mkdir -p "$w"
  fresh_folder clockwork

  # CPU, heard as loudness: a throbbing motor, silent when the CPU rests.
  tone "$w/m1.wav" $r $s sawtooth 82.5
  tone "$w/m2.wav" $r $s square 41.25
  mix "$w/motor.wav" "$w/m1.wav" 0.7 "$w/m2.wav" 0.3
  finish "$w/motor.wav" "$w/cpu.wav" $r $s lowpass 600 lowpass 900 \
    tremolo 8 40

  # RAM, heard as pitch: a wound spring's hum, authored at 22050 Hz, well
  # above the motor.
  tone "$w/s1.wav" $r $s triangle 294
  tone "$w/s2.wav" $r $s sine 147
  mix "$w/spring.wav" "$w/s1.wav" 0.6 "$w/s2.wav" 0.5
  finish "$w/spring.wav" "$w/ram.wav" $r $s lowpass 1200 tremolo 0.5 10

  # Disk, cross-faded: a slow tick-tock at rest, a clatter when busy.
  ping "$w/k1.wav" $r 880 0.07
  ping "$w/k2.wav" $r 660 0.07
  ping "$w/k3.wav" $r 1174.75 0.05
  pattern "$w/tock.wav" $r $s \
    "$w/k1.wav@0.00@1" "$w/k2.wav@1.00@0.8" "$w/k1.wav@2.00@1" \
    "$w/k2.wav@3.00@0.8"
  finish "$w/tock.wav" "$w/Disk_a.wav" $r $s bandpass 900 0.8q \
    reverb 15 50 20
  local events=() i
  for i in $(seq 0 31); do
    local at vol file
    at="$(awk -v i="$i" 'BEGIN { printf "%.3f", i * 0.125 }')"
    vol="$(awk -v i="$i" 'BEGIN { printf "%.2f", 0.5 + 0.5 * ((i * 5) % 7) / 6 }')"
    case $((i % 3)) in
      0) file="$w/k1.wav" ;;
      1) file="$w/k3.wav" ;;
      *) file="$w/k2.wav" ;;
    esac
    events+=("$file@$at@$vol")
  done
  pattern "$w/clatter.wav" $r $s "${events[@]}"
  finish "$w/clatter.wav" "$w/Disk_b.wav" $r $s bandpass 1000 0.8q \
    reverb 15 50 20

  for f in cpu ram Disk_a Disk_b; do
    cp "$w/$f.wav" "$here/clockwork/$f.wav"
  done
  write_prefs "$here/clockwork" "UseAverages=1" "CPUSoundMode=0" \
    "RAMSoundMode=1" "SlideInterval=80" "FrequencyFluctuation=0" \
    "DiskSoundMode=2"
}

# --- hearthside: a fire, rain on the window, a fan, a clock ----------------
make_hearthside() {
  local r=22050 s=4 w="$work/hearth"
  mkdir -p "$w"
  fresh_folder hearthside

  # CPU, cross-faded: embers that glow at rest, a crackling blaze when busy.
  noise "$w/brown.wav" $r $s brownnoise
  finish "$w/brown.wav" "$w/cpu_a.wav" $r $s lowpass 300 tremolo 0.5 40
  ping "$w/c0.wav" $r 3136 0.012
  ping "$w/c1.wav" $r 2349 0.015
  ping "$w/c2.wav" $r 4186 0.010
  local crackle
  mapfile -t crackle < <(scatter 24 0.1667 "$w/c" 3)
  pattern "$w/crackle.wav" $r $s "${crackle[@]}"
  noise "$w/pink.wav" $r $s pinknoise
  mix "$w/blaze.wav" "$w/pink.wav" 0.5 "$w/crackle.wav" 1
  finish "$w/blaze.wav" "$w/cpu_b.wav" $r $s bandpass 1200 0.7q \
    tremolo 2 40

  # RAM, heard as loudness: a kettle's low song before it boils.
  tone "$w/k1.wav" $r $s sine 174.5
  tone "$w/k2.wav" $r $s sine 261.75
  mix "$w/kettle.wav" "$w/k1.wav" 0.7 "$w/k2.wav" 0.4
  finish "$w/kettle.wav" "$w/ram.wav" $r $s tremolo 0.75 30 lowpass 900

  # Disk, heard as loudness: logs settling, soft wooden knocks.
  ping "$w/w1.wav" $r 392 0.09
  ping "$w/w2.wav" $r 293.75 0.09
  pattern "$w/knocks.wav" $r $s \
    "$w/w1.wav@0.00@1" "$w/w2.wav@0.75@0.7" "$w/w1.wav@2.25@0.8" \
    "$w/w2.wav@3.00@0.6"
  finish "$w/knocks.wav" "$w/Disk.wav" $r $s lowpass 1200 reverb 30 50 40

  # Network, heard as loudness: soft rain on the window, drops on the hiss.
  ping "$w/r0.wav" $r 5274 0.02
  ping "$w/r1.wav" $r 4698.75 0.025
  ping "$w/r2.wav" $r 6271.75 0.015
  ping "$w/r3.wav" $r 3951 0.02
  local rain
  mapfile -t rain < <(scatter 40 0.1 "$w/r" 4)
  pattern "$w/drops.wav" $r $s "${rain[@]}"
  mix "$w/rain.wav" "$w/pink.wav" 0.6 "$w/drops.wav" 0.5
  finish "$w/rain.wav" "$w/net.wav" $r $s highpass 1500 lowpass 7000 \
    reverb 30 60 50

  # GPU, heard as pitch: a fan's hum that spins up with the work, authored
  # at 22050 Hz.
  tone "$w/f1.wav" $r $s sawtooth 60
  tone "$w/f2.wav" $r $s sine 120
  mix "$w/fan.wav" "$w/f1.wav" 0.4 "$w/f2.wav" 0.6 "$w/brown.wav" 0.3
  finish "$w/fan.wav" "$w/gpu.wav" $r $s lowpass 500 tremolo 15 15

  # Temperature, cross-faded: a low calm drone, rising into a tense one.
  tone "$w/d1.wav" $r $s sine 55
  tone "$w/d2.wav" $r $s sine 82.5
  tone "$w/d3.wav" $r $s triangle 110
  tone "$w/d4.wav" $r $s sine 116.5
  tone "$w/d5.wav" $r $s sine 220
  mix "$w/cool.wav" "$w/d1.wav" 1 "$w/d2.wav" 0.4
  finish "$w/cool.wav" "$w/temp_a.wav" $r $s tremolo 0.25 30 lowpass 400
  mix "$w/hot.wav" "$w/d3.wav" 0.7 "$w/d4.wav" 0.6 "$w/d5.wav" 0.3
  finish "$w/hot.wav" "$w/temp_b.wav" $r $s tremolo 1.5 40 lowpass 1200

  # Battery, heard as loudness: a slow clock, louder as the charge runs out.
  ping "$w/t1.wav" $r 1046.5 0.05
  ping "$w/t2.wav" $r 784 0.05
  pattern "$w/clock.wav" $r $s \
    "$w/t1.wav@0.00@1" "$w/t2.wav@1.00@0.8" "$w/t1.wav@2.00@1" \
    "$w/t2.wav@3.00@0.8"
  finish "$w/clock.wav" "$w/battery.wav" $r $s bandpass 900 1q \
    reverb 25 50 30

  for f in cpu_a cpu_b ram Disk net gpu temp_a temp_b battery; do
    to_flac "$w/$f.wav" "$here/hearthside/$f.flac"
  done
  write_prefs "$here/hearthside" "UseAverages=1" "CPUSoundMode=2" \
    "RAMSoundMode=0" "SlideInterval=100" "FrequencyFluctuation=0" \
    "DiskSoundMode=0" "NetSoundMode=0" "GPUSoundMode=1" "TempSoundMode=2" \
    "BatterySoundMode=0"
}

# --- the tray icon: a level meter of four bars in a rounded tile -----------
make_tray_image() {
  /usr/bin/convert -size 32x32 xc:none \
    -fill '#17404a' -draw 'roundrectangle 0,0 31,31 7,7' \
    -fill '#2a7f8c' -draw 'roundrectangle 2,2 29,29 5,5' \
    -fill '#e8f6f3' \
    -draw 'roundrectangle 6,17 9,25 1,1' \
    -draw 'roundrectangle 12,8 15,25 1,1' \
    -draw 'roundrectangle 18,13 21,25 1,1' \
    -fill '#ffcf5a' -draw 'roundrectangle 24,5 27,25 1,1' \
    -define bmp3:alpha=true \
    "BMP3:$here/../VESKA.bmp"
}

# Every pack as the program will load it, through the program's own loader.
check_packs() {
  local tool="${VESKA_PACK:-$here/../build/veska-pack}" pack
  if [ ! -x "$tool" ]; then
    echo "make_packs: $tool not found; build it (cmake --build build" \
      "--target veska-pack) or name it in VESKA_PACK" >&2
    exit 1
  fi
  for pack in "${packs[@]}"; do
    "$tool" check "$here/$pack" >"$work/check.txt" || {
      cat "$work/check.txt" >&2
      echo "make_packs: $pack has elements that would be silent" >&2
      exit 1
    }
  done
}

packs=("$@")
((${#packs[@]})) || packs=(tidewater glasshouse clockwork hearthside)
for pack in "${packs[@]}"; do
  case $pack in
    tidewater | glasshouse | clockwork | hearthside) "make_$pack" ;;
    *) echo "make_packs: no pack named $pack" >&2; exit 2 ;;
  esac
done
(($#)) || make_tray_image
check_packs
(($#)) || packs+=("the tray image")
echo "make_packs: ${packs[*]} written and checked"
