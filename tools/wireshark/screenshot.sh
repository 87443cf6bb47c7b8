#!/usr/bin/env bash
# Makes the README's picture of Wireshark showing a recording of the line:
#   tools/wireshark/screenshot.sh [OUT.png [BUILD_DIR]]
# (defaults docs/wireshark-recording.png and build/native). Documentation
# only, not part of the build or the tests; it needs the Wireshark GUI
# (Debian wireshark-qt), Xvfb, xdotool and ImageMagick, which
# tools/install-deps.sh does not install.
#
# It records three seconds of the simulator with elq770ctl record, installs
# tools/wireshark/elq770.lua into the personal Lua plugins folder of a
# throw-away home folder (so no profile of the user's takes part), opens the
# recording in Wireshark on its own Xvfb, goes to a packet of the device's
# text, opens the packet's ELQ770 details and captures the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/docs/wireshark-recording.png}
build=${2:-$root/build/native}
for tool in wireshark Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The recording: the device's text, its parameters and its stream.
"$build/tools/elq770-sim" --link "$work/tty" --text "BENCH UNIT 4" --seed 3 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/tty" ] && break; sleep 0.05; done
"$build/elq770ctl" record --port "$work/tty" --out "$work/bench.pcap" --duration 3 >/dev/null

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME/.local/lib/wireshark/plugins"
cp "$root/tools/wireshark/elq770.lua" "$HOME/.local/lib/wireshark/plugins/"

exec 3< <(Xvfb -displayfd 4 -screen 0 1280x900x24 -nolisten tcp 4>&1 2>/dev/null)
pids+=($!)
read -r -t 15 display <&3
export DISPLAY=:$display

# The packet that holds the device's first text character.
packet=$(tshark -n -r "$work/bench.pcap" -Y 'elq770.band == "text"' -T fields -e frame.number 2>/dev/null | head -1)
wireshark -r "$work/bench.pcap" -g "${packet:-3}" >/dev/null 2>&1 &
pids+=($!)
window=$(xdotool search --sync --onlyvisible --name 'bench.pcap' | head -1)
xdotool windowmove "$window" 0 0 windowsize "$window" 1200 820
sleep 3
# The details pane starts under the packet list at this window size: its
# second row is the ELQ770 tree, which Shift+Right (View > Expand Subtrees)
# opens with every line's fields; the frame's own tree stays closed.
xdotool mousemove --window "$window" 120 468 click 1
sleep 0.5
xdotool key shift+Right
sleep 1
import -display ":$display" -window "$window" "$work/shot.png"
convert "$work/shot.png" -colors 64 -strip "$out"
echo "$out ($(stat -c %s "$out") bytes; packet $packet)"
