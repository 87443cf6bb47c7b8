#!/usr/bin/env bash
# Makes (once) and prepares a Wine prefix for the program and its tests:
#   tools/wine-prefix.sh PREFIX
# The prefix gets a 1280x1024 virtual desktop (windows get a drawn caption and
# frame, and closing a window or message box costs no window-manager wait),
# the Marlett font for caption buttons, and no COM links: a port exists only
# while something links dosdevices/comN to a simulator's pty.
# Safe to run from several processes at once (flock on PREFIX.lock).
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY

exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.elq770-ready" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  mkdir -p "$prefix/drive_c/windows/Fonts"
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
  fi
  # The desktop mode is fixed when the wine server starts.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  touch "$prefix/.elq770-ready"
fi
# Wine makes com1 -> /dev/ttyS0 and the like by default: remove every link
# that points at a real serial device so a missing port really is missing.
for link in "$prefix"/dosdevices/com*; do
  [ -L "$link" ] || continue
  case "$(readlink "$link")" in /dev/ttyS*|/dev/ttyUSB*|/dev/ttyACM*) rm -f "$link" ;; esac
done
