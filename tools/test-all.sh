#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test through
# CTest: the unit tests natively (ASan, UBSan) and under Wine, the simulator's
# tests, the end-to-end tests of the real programs under Wine against the
# simulator (printing through the machine's CUPS PDF queue), and a bounded
# run of each fuzz target; then builds the release zip from a clean build and
# checks its contents; then builds the amd64 Debian package, installs it,
# checks what it installed and purges it again. The arm64 package is not
# built here: its cross build and the install of its cross packages would
# add about five minutes on top of the amd64 one (README, "The Debian
# package").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install-deps.sh"
# A test whose server or tool is missing skips itself when run alone; the
# full run must not pass that way.
for tool in /usr/sbin/mosquitto openssl tshark /usr/bin/prometheus promtool curl; do
  command -v "$tool" >/dev/null || { echo "test-all: $tool is missing after install-deps" >&2; exit 1; }
done
python3 -c 'import jinja2' || { echo "test-all: python3-jinja2 is missing after install-deps" >&2; exit 1; }
# Dependencies run one way: no product file includes a folder above its own.
python3 "$root/tools/check-layers.py"
"$root/tools/build.sh"

# The printer the printing tests print on, up before any Wine process.
"$root/tools/printer-start.sh" >/dev/null

export WINEDEBUG=-all
ctest --test-dir build/native --output-on-failure -j2 --timeout 900

"$root/tools/package.sh"
"$root/tools/check-package.sh"

deb=$("$root/tools/package-deb.sh" amd64)
"$root/tools/check-deb.sh" "$deb"
