#!/usr/bin/env bash
# Makes (once) and prepares a Wine prefix for the program and its tests:
#   tools/wine-prefix.sh PREFIX
# The prefix gets a 1280x1024 virtual desktop (windows get a drawn caption and
# frame, and closing a window or message box costs no window-manager wait),
# the Marlett font for caption buttons, and no COM1 to COM8 of its own: Wine
# would map the host's serial ports there, so each of the eight names is
# reserved empty in HKLM\Software\Wine\Ports (the host's ports move behind
# COM8). A port then exists only while something links dosdevices/comN to a
# simulator's pty, or while that value names such a link.
# Safe to run from several processes at once (flock on PREFIX.setup-lock).
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY

exec 9>"$prefix.setup-lock"
flock 9
if [ ! -f "$prefix/.elq770-ready" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  for n in 1 2 3 4 5 6 7 8; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "" /f >/dev/null 2>&1
  done
  mkdir -p "$prefix/drive_c/windows/Fonts"
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
  fi
  # The desktop mode is fixed when the wine server starts.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  touch "$prefix/.elq770-ready"
fi
