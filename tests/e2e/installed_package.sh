#!/usr/bin/env bash
# The Debian package as a user gets it: the one in $VESKA_DEB, or else made
# by CPack from the built tree; unpacked into a scratch root, and its program
# started as the menu starts it: from a folder of no importance, with a fresh
# home. It opens the folder browser on its installed packs, finds its tray
# image, plays the chosen pack and keeps settings.ini in $XDG_CONFIG_HOME/veska
# only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init installed_package
e2e_require cpack dpkg dpkg-deb
if [ -n "${VESKA_DEB:-}" ]; then
  # The package the README's install steps made (scripts/test-install).
  deb=$VESKA_DEB
  [ -f "$deb" ] || e2e_fail "no package at $deb"
else
  build=$(dirname "$VESKA_BIN")
  [ -f "$build/CPackConfig.cmake" ] || e2e_fail "no CPackConfig.cmake in $build (configure the build first)"
  e2e_log "making the package"
  timeout -k 5 100 cpack --config "$build/CPackConfig.cmake" -G DEB -B "$E2E_TMP/package" \
    >"$E2E_TMP/logs/cpack.log" 2>&1 || e2e_fail "cpack could not make the package"
  deb=$(ls "$E2E_TMP"/package/veska_*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || e2e_fail "cpack made no .deb"
fi
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6dbus6 libsdl2-2.0-0 libvorbisfile3 libflac12 libx11-6; do
  grep -q "$lib" <<<"$depends" || e2e_fail "the package does not depend on $lib ($depends)"
done

root=$E2E_TMP/root
dpkg -x "$deb" "$root"
data=$root/usr/share/veska
for file in usr/bin/veska usr/bin/veska-pack usr/share/veska/VESKA.bmp usr/share/veska/packs/tidewater/prefs.ini \
  usr/share/applications/veska.desktop usr/share/icons/hicolor/48x48/apps/veska.png; do
  [ -f "$root/$file" ] || e2e_fail "the package lacks /$file"
done
[ ! -e "$data/packs/make_packs.sh" ] || e2e_fail "the package holds the pack-making script"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/veska.desktop" ||
    e2e_fail "the menu entry is not valid"
fi
"$root/usr/bin/veska-pack" check "$data/packs/tidewater" >"$E2E_TMP/logs/pack-check.log" 2>&1 ||
  e2e_fail "the installed veska-pack finds fault with an installed pack"
e2e_log "ok: the package holds the program, veska-pack, packs, image, menu entry and icon"

VESKA_BIN=$root/usr/bin/veska
e2e_require_program
e2e_start_display
e2e_start_sound

elsewhere=$E2E_TMP/elsewhere
mkdir -p "$elsewhere"
e2e_start_veska "$elsewhere"
browser=$(e2e_wait_window "Select a soundpack" 20) ||
  e2e_fail "no folder browser titled \"Select a soundpack\" appeared"
e2e_focus "$browser"
# A bare name is found only when the browser opened at the installed packs.
xdotool type --delay 40 tidewater
sleep 0.3
xdotool key Return
if e2e_wait_until 2 test -z "$(e2e_find_window "Select a soundpack")"; then :; else
  xdotool key Return # a completion list may take the first Return
fi
e2e_wait_until 10 test -z "$(e2e_find_window "Select a soundpack")" ||
  e2e_fail "the folder browser did not find tidewater among the installed packs"
e2e_wait_until 15 e2e_has_player || e2e_fail "no sound reached the sound server"
icon=$(e2e_wait_tray_icon 15) || e2e_fail "no tray icon: the installed image was not found"
read -r icon_x icon_y <<<"$icon"
sleep 1
e2e_record "$E2E_TMP/tidewater.wav" 2
e2e_measure "$E2E_TMP/tidewater.wav" --from 0.2
e2e_check "$m_rms > 0.001" "the installed tidewater plays (rms $m_rms)"

# Exit, from the menu, writes the settings.
xdotool mousemove --sync "$icon_x" "$icon_y" click 1
sleep 0.6
xdotool mousemove --sync 5 795
sleep 0.2
xdotool key --delay 150 Down Down Down Down Down Down Down Return # Exit
e2e_wait_exit 10
((VESKA_RC == 0)) || e2e_fail "Exit ended the program with code $VESKA_RC"

config=$XDG_CONFIG_HOME/veska
[ -f "$config/settings.ini" ] || e2e_fail "no settings.ini in $config"
grep -q "^Path = .*/packs/tidewater/"$'\r'"\$" "$config/settings.ini" ||
  e2e_fail "settings.ini does not name tidewater: $(tr -d '\r' <"$config/settings.ini")"
[ -z "$(ls -A "$elsewhere")" ] || e2e_fail "files written in the starting folder: $(ls -A "$elsewhere")"
found=$(find "$E2E_TMP" -name settings.ini | grep -vx "$config/settings.ini" || true)
[ -z "$found" ] || e2e_fail "settings.ini written elsewhere too: $found"
[ "$(readlink "$config/packs")" = "$data/packs" ] ||
  e2e_fail "$config/packs does not lead to the installed packs"
e2e_log "ok: settings.ini only in $config"
echo "PASS: installed_package"
