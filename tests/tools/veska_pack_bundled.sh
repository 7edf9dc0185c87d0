#!/usr/bin/env bash
# The built veska-pack on the bundled packs, as an author runs it: every pack
# checks clean, and a short preview of each is written, picture included,
# and is not silent.
set -uo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "veska_pack_bundled: $*" >&2; exit 1; }

for pack in tidewater glasshouse clockwork hearthside; do
  dir="$VESKA_SOURCE_DIR/packs/$pack"
  timeout 20 "$VESKA_PACK" check "$dir" >"$work/check.txt" ||
    fail "check $pack exits $?: $(cat "$work/check.txt")"
  grep -q '^Every element plays.$' "$work/check.txt" || fail "check $pack says otherwise"
  timeout 20 "$VESKA_PACK" check "$dir" --json | grep -q '"every_element_plays": true' ||
    fail "check --json $pack"
  timeout 30 "$VESKA_PACK" preview "$dir" -o "$work/$pack.wav" --png "$work/$pack.png" \
    --cores 4 --load 'idle@3:cpu=0,ram=20;busy@3:cpu=100,ram=80,disk=90/0,net=60,gpu=50,temp=70,battery=40' \
    2>"$work/err.txt" || fail "preview $pack exits $?: $(cat "$work/err.txt")"
  [ "$(head -c 4 "$work/$pack.wav")" = RIFF ] || fail "preview $pack wrote no WAV file"
  [ "$(head -c 4 "$work/$pack.png" | tail -c 3)" = PNG ] || fail "preview $pack wrote no PNG"
  line="$("$VESKA_ANALYZE" "$work/$pack.wav" --from 4 --to 6)" ||
    fail "the preview of $pack cannot be analysed"
  duration="$("$VESKA_ANALYZE" "$work/$pack.wav" | sed -n 's/.*duration=\([0-9.]*\).*/\1/p')"
  awk -v d="$duration" 'BEGIN { exit !(d > 5.99 && d < 6.01) }' ||
    fail "the preview of $pack lasts $duration s, not 6"
  rms="$(sed -n 's/.* rms=\([0-9.e+-]*\).*/\1/p' <<<"$line")"
  awk -v r="$rms" 'BEGIN { exit !(r > 0.001) }' || fail "the preview of $pack is silent: $line"
done
echo "veska_pack_bundled: every bundled pack checks clean and previews"
