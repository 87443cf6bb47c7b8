#!/usr/bin/env bash
# One-command demo: installs what is missing, builds, starts the device
# simulator on a pty, points COM1 of a project-local Wine prefix at it and
# runs elq770.exe under Wine, with the machine's CUPS PDF queue as its
# printer (tools/printer-start.sh). On a desktop it opens on your display;
# without one it runs under Xvfb and writes a screenshot whose path it prints.
# Ending the program (or Ctrl-C) ends the simulator. Arguments go to the
# simulator: `tools/run-demo.sh --replay bench.pcap --loop` plays a
# recording of the line into the program instead of the simulated device.
set -euo pipefail
caller=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install-deps.sh"
"$root/tools/build.sh"

# The printer: the machine's CUPS with a PDF queue (started before any Wine
# process, which is when Wine takes over the CUPS queues). A demo without it
# still runs; printing then says that no printer can be opened.
if pdf_dir=$("$root/tools/printer-start.sh"); then
  echo "printed pages go to $pdf_dir as PDF files"
else
  echo "no printer: tools/printer-start.sh failed" >&2
fi

demo="$root/build/demo"
prefix="$demo/wineprefix"
mkdir -p "$demo"
"$root/tools/wine-prefix.sh" "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
# COM1 of this prefix is the simulator: Wine links it at every session start.
wineserver -k 2>/dev/null || true
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$demo/com1" /f >/dev/null 2>&1
wineserver -w 2>/dev/null || true

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# From the caller's folder, so that a recording named relative to it is found.
(cd "$caller" && exec "$root/build/native/tools/elq770-sim" --link "$demo/com1" --log "$demo/simulator.log" "$@") &
pids+=($!)
for _ in $(seq 50); do [ -e "$demo/com1" ] && break; sleep 0.1; done

headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  Xvfb :77 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=:77
  sleep 1
fi

cd "$demo"
wine "$root/build/win/elq770.exe" &
program=$!
pids+=($program)

if [ "$headless" = 1 ]; then
  sleep 8
  import -display "$DISPLAY" -window root "$demo/elq770-demo.png"
  echo "screenshot: $demo/elq770-demo.png"
  echo "the program runs under Xvfb on $DISPLAY; press Ctrl-C to end it"
fi
wait "$program" || true
