#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, once: packages that
# are already there are not fetched again. tshark runs the Wireshark dissector
# in the tests; its question about capture rights is answered by its default
# (no) under DEBIAN_FRONTEND=noninteractive. GNU time (/usr/bin/time -v)
# takes the peak memory figures of tools/measure.sh decode.
set -euo pipefail

PACKAGES=(
  cmake make g++
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  googletest libgtest-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  wine wine64 fonts-wine xvfb imagemagick x11-utils
  zip unzip
  libpcap-dev
  tshark
  pkg-config libmosquitto-dev mosquitto mosquitto-clients openssl
  time
)
# The printer the tests print on: a CUPS queue that writes PDF files, and the
# tools that read them back. Their recommendations (avahi, colour management,
# drivers) are not needed.
PRINT_PACKAGES=(cups cups-client printer-driver-cups-pdf poppler-utils ghostscript)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${PACKAGES[@]}")
mapfile -t missing_print < <(missing_of "${PRINT_PACKAGES[@]}")
if [ ${#missing[@]} -gt 0 ] || [ ${#missing_print[@]} -gt 0 ]; then
  echo "installing: ${missing[*]} ${missing_print[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  if [ ${#missing_print[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${missing_print[@]}" >/dev/null
  fi
fi
